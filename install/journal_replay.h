// Replaying a run's journal over the catalog: how both a failed run's own
// rollback and the next run's recovery of a dead one undo it, so that the
// two can never disagree. The journal is read as a stream (journal_reader.h)
// and checked whole before anything is done; a journal that does not
// parse is not replayed at all. Each record is then acted on by RunUndo,
// which touches only what the run can prove it left.
//
// The install worker or the caller's thread, with the catalog locked.
#ifndef QXR8_INSTALL_JOURNAL_REPLAY_H_
#define QXR8_INSTALL_JOURNAL_REPLAY_H_

#include <vector>

#include "install/install_data.h"
#include "install/state_folder.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/status.h"
#include "platform/wstring.h"

struct ReplayOutcome {
  // A record did not parse (`untrusted` says why): nothing was replayed.
  Status untrusted;
  bool committed = false;    // the run had committed: only tidied
  bool madeCatalog = false;  // the run made the catalog itself
  bool backupsLeft = false;  // something stays in the state folder
  unsigned long foldersRemoved = 0;  // emptied folders removed after a commit
  std::vector<wstring> notes;        // what was kept, and why
};

// Replays the journal open as `journal` (may be closed: no journal) of the
// run whose own state folder `state` stands in `catalog`: a run that
// committed has the folders it emptied removed; any other is undone,
// newest record first. A journal of the previous format, which holds no
// identities, is replayed by the same rules with `kitEntries` (may be
// null) standing in for them, and the backups it left without records are
// put back too. Nothing is removed from the state folder.
ReplayOutcome replay_journal(const Directory& catalog, StateFolder& state, const File& journal,
                             const std::vector<config::KitEntry>* kitEntries);

// After a replay: removes the state folder when nothing is left in it that
// the catalog still needs; otherwise (a journal that could not be
// trusted, a backup that could not go back) moves it aside under a dated
// name, which a note gives, so that the catalog can be used again with
// nothing lost. `aside` gets that folder's path (empty when removed).
Status settle_state(const Directory& catalog, StateFolder& state, ReplayOutcome& outcome,
                    wstring& aside);

#endif  // QXR8_INSTALL_JOURNAL_REPLAY_H_
