// Finishing what a dead run left: a run killed halfway, or cut off by a
// power failure, leaves its state folder (run_state.h) in the catalog,
// with the journal of what it did and the backups of what it replaced.
// The next run into the catalog, whatever its TMPDIR, holding the
// catalog's lock, undoes such a run (the user's files restored, what the
// run added removed, its hidden temporaries swept) before it writes
// anything itself; a run that had committed is only tidied.
//
// Called by the install worker, with the catalog locked (catalog_lock.h).
#ifndef QXR8_INSTALL_RUN_RECOVERY_H_
#define QXR8_INSTALL_RUN_RECOVERY_H_

#include "platform/directory.h"
#include "platform/status.h"

// Undoes the dead run whose state folder stands in `catalog`, if any.
// A journal that is missing, empty, cut short or unreadable beside backups
// means "restore what the backups show", never "nothing to do". Returns
// success when no state folder is left (or none stood); otherwise, and
// with the catalog touched no further than the undo went: 5 when the
// folder belongs to another user, who must finish it (the note names the
// user); 32 when a live run holds its journal; 183 when a backup could not
// be moved back (the folder keeps it).
Status recover_dead_run(const Directory& catalog);

#endif  // QXR8_INSTALL_RUN_RECOVERY_H_
