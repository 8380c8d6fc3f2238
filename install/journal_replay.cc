#include "install/journal_replay.h"

#include "install/journal_reader.h"
#include "install/run_hooks.h"
#include "install/run_undo.h"

namespace {

// A previous format's folders come in the order they were made, parents
// first; each pass removes the deepest that are empty, so a few passes
// empty any tree a run can make. More would only cost time: what is left
// is empty folders.
constexpr int kFolderPasses = 8;

void replay_committed(JournalReader& reader, RunUndo& undo, ReplayOutcome& outcome) {
  JournalRecord record;
  reader.rewind();
  while (reader.next(record)) undo.removeEmptied(record);
  outcome.foldersRemoved = undo.foldersRemoved();
}

void replay_previous_format(JournalReader& reader, RunUndo& undo) {
  JournalRecord record;
  reader.rewind();
  while (reader.next(record)) {
    if (record.kind == JournalKind::kAddedFile) undo.undo(record);
  }
  undo.restoreUnrecordedBackups();
  for (int pass = 0; pass < kFolderPasses; ++pass) {
    undo.resetFoldersLeft();
    reader.rewind();
    while (reader.next(record)) {
      if (record.kind == JournalKind::kCreatedDir) undo.undo(record);
    }
    if (undo.foldersLeft() == 0) break;
  }
  undo.sweepLegacyTemporaries();
}

}  // namespace

ReplayOutcome replay_journal(const Directory& catalog, StateFolder& state, const File& journal,
                             const std::vector<config::KitEntry>* kitEntries) {
  ReplayOutcome outcome;
  RunUndo undo(catalog, state, kitEntries);
  JournalScan scan;
  std::unique_ptr<JournalReader> reader;
  if (journal.isOpen()) {
    reader = std::make_unique<JournalReader>(journal);
    const Status scanned = reader->scan(scan);
    if (!scanned.ok()) {
      outcome.untrusted = scanned;
      return outcome;
    }
  }
  run_hook(RunPoint::kJournalRead);
  if (!reader || scan.format == JournalScan::Format::kNone) {
    // A journal that never got its first record: only a run of the
    // previous format can have moved anything by then.
    if (state.backupsHoldFiles()) {
      undo.restoreUnrecordedBackups();
      undo.sweepLegacyTemporaries();
    }
  } else if (scan.committed) {
    outcome.committed = true;
    replay_committed(*reader, undo, outcome);
  } else if (scan.format == JournalScan::Format::kVersion2) {
    replay_previous_format(*reader, undo);
  } else {
    JournalRecord record;
    reader->toEnd();
    while (reader->previous(record)) undo.undo(record);
  }
  if (reader && !reader->error().ok()) outcome.untrusted = reader->error();
  const Status synced = undo.syncChanged();
  outcome.madeCatalog = undo.madeCatalog();
  // What came back must be on disk before the backups that held it go.
  outcome.backupsLeft = undo.backupsLeft() || !synced.ok();
  outcome.notes = undo.notes();
  return outcome;
}

Status settle_state(const Directory& catalog, StateFolder& state, ReplayOutcome& outcome,
                    wstring& aside) {
  aside.clear();
  if (outcome.untrusted.ok() && !outcome.backupsLeft) return state.remove(catalog);
  const Status moved = state.moveAside(catalog, aside);
  if (!moved.ok()) return moved;
  if (!outcome.untrusted.ok()) {
    outcome.notes.push_back(aside + u": the state of an interrupted run, set aside untouched: " +
                            describe_status(outcome.untrusted));
  } else {
    outcome.notes.push_back(aside + u": what the run could not put back is kept here");
  }
  return Status();
}
