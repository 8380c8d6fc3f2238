#include "install/run_recovery.h"

#include <fcntl.h>

#include "install/journal_replay.h"
#include "install/run_journal.h"
#include "install/run_state.h"
#include "install/state_folder.h"

namespace {

Status foreign_run(const Directory& catalog, unsigned owner) {
  const wstring state = catalog.pathOf(kRunStateFolderName);
  Status status = error_status(kErrorAccessDenied, state);
  status.note = u"an unfinished installation of " + owner_description(owner) + u" into " +
                catalog.path() + u"; only that user's next run into the catalog may undo it. "
                u"Once that user's work is safe, the folder can be moved away";
  return status;
}

// Something at the state folder's name that no run of this user's left:
// a link or a file stands in the way (183), a folder others may reach is
// not trusted (5). Either is left alone.
Status not_private(const Directory& catalog) {
  FileInfo info;
  catalog.info(kRunStateFolderName, FollowLinks::kNo, info);
  const bool folder = info.kind == PathKind::kDirectory;
  Status status =
      error_status(folder ? kErrorAccessDenied : kErrorAlreadyExists, catalog.pathOf(kRunStateFolderName));
  status.note = folder ? u"a folder others may reach, so not the state of an installation; move "
                         u"it away to go on"
                       : u"not a folder, so not the state of an installation; move it away to go on";
  return status;
}

}  // namespace

Status recover_dead_run(const Directory& catalog, const std::vector<config::KitEntry>* kitEntries,
                        std::vector<wstring>& notes) {
  StateFolder state;
  StateFolder::Found found = StateFolder::Found::kNone;
  unsigned owner = 0;
  Status status = StateFolder::find(catalog, found, owner, state);
  if (!status.ok()) return status;
  switch (found) {
    case StateFolder::Found::kNone: return Status();
    case StateFolder::Found::kForeign: return foreign_run(catalog, owner);
    case StateFolder::Found::kOpen: return not_private(catalog);
    case StateFolder::Found::kOwn: break;
  }
  File journal;
  status = RunJournal::openForReplay(state.folder(), journal);
  // The lock is free only once its run has ended.
  if (status.code == kErrorSharingViolation) {
    status.path = state.path();
    return status;
  }
  ReplayOutcome outcome;
  wstring aside;
  if (!state.hasBackups()) {
    // Killed before its backup tree stood, or after a rollback or commit
    // had removed it: the journal cannot have protected anything.
    return state.remove(catalog);
  }
  if (!status.ok() && status.code != kErrorFileNotFound) {
    outcome.untrusted = status;
  } else {
    outcome = replay_journal(catalog, state, journal, kitEntries);
  }
  journal = File();
  status = settle_state(catalog, state, outcome, aside);
  notes.insert(notes.end(), outcome.notes.begin(), outcome.notes.end());
  return status;
}
