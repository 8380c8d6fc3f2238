// Finishing what a dead run left: a run killed halfway leaves its backup
// tree, with the journal of what it did, in the temporary directory. The
// next run into the same catalog, holding the catalog's lock, rolls such
// a run back (the user's files restored, what the run added removed) and
// removes its tree before it writes anything itself.
//
// Called by the install worker, with the catalog locked (catalog_lock.h).
#ifndef QXR8_INSTALL_RUN_RECOVERY_H_
#define QXR8_INSTALL_RUN_RECOVERY_H_

#include "platform/directory.h"
#include "platform/wstring.h"

// Looks in `tempDir` (ends with "/") for backup trees "r8stp<N>" of this
// user (directories of the effective user, closed to others) whose journal
// is not locked by a live run and names the catalog open as `catalog`
// (same device and inode), and rolls each back. A tree whose restore fails
// stays for the next run. Trees of other catalogs, of live runs, of other
// users and trees without a journal are left alone. Returns the number of
// runs rolled back.
unsigned recover_dead_runs(const wstring& tempDir, const Directory& catalog);

#endif  // QXR8_INSTALL_RUN_RECOVERY_H_
