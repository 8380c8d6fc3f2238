// Finishing what a dead run left: a run killed halfway, or cut off by a
// power failure, leaves its state folder (run_state.h) in the catalog,
// with the journal of what it did and the backups of what it replaced.
// The next run into the catalog, whatever its TMPDIR, holding the
// catalog's lock, undoes such a run (journal_replay.h) before it writes
// anything itself; a run that had committed is only tidied.
//
// Only the caller's own private state folder is ever replayed: a folder of
// another user is left to that user, whoever the caller is (root too),
// and one that is not private (a link, a file, a folder others may reach)
// is the work of no run of ours. A state whose journal does not parse, or
// whose backups cannot all go back, is set aside under a dated name and
// the run goes on; one whose journal cannot have protected anything is
// simply removed.
//
// Called by the install worker or the caller's thread, with the catalog
// locked (catalog_lock.h).
#ifndef QXR8_INSTALL_RUN_RECOVERY_H_
#define QXR8_INSTALL_RUN_RECOVERY_H_

#include <vector>

#include "install/install_data.h"
#include "platform/directory.h"
#include "platform/status.h"
#include "platform/wstring.h"

// Undoes the dead run whose state folder stands in `catalog`, if any.
// `kitEntries` (may be null) stand in for the identities a journal of the
// previous format lacks. Returns success when no state folder is left at
// its name (none stood, it was undone, or it was set aside), with `notes`
// naming what was kept and where (appended to); otherwise, with the
// catalog untouched: 5 when the folder belongs to another user (the note
// says whose and what to do) or is not private; 32 when a live run holds
// its journal; or the failure that kept the state from being removed.
Status recover_dead_run(const Directory& catalog, const std::vector<config::KitEntry>* kitEntries,
                        std::vector<wstring>& notes);

#endif  // QXR8_INSTALL_RUN_RECOVERY_H_
