// One installation run: walks the kit's file table in order and writes every
// file whose installed copy is missing or older than the kit's, keeping a
// rollback journal; posts its progress into the run's InstallProcessData
// and, when a step fails, posts the failure and rolls everything back.
//
// Runs on the install worker thread; one Installer serves one run.
#ifndef QXR8_INSTALL_INSTALLER_H_
#define QXR8_INSTALL_INSTALLER_H_

#include <set>
#include <utility>
#include <vector>

#include "install/catalog_lock.h"
#include "install/install_process_data.h"
#include "install/rollback.h"
#include "platform/file_system.h"
#include "platform/wstring.h"

// A kit name as a path below the catalog: "\" read as "/", and empty and
// "." components dropped, so that every directory a run makes is one its
// journal names (the reader has already refused ".." and absolute names).
// The run and the dry-run plan both place an entry at catalog + this name.
// Pure; any thread.
wstring normalised_kit_name(const wstring& name);

class Installer {
 public:
  Installer();

  // Installs the kit armed in `processData` into its catalog. Before its
  // first write it takes the catalog's lock (another run holding it ends
  // this one at once with 32, nothing touched), rolls back any dead run
  // into the same catalog whose journal it finds in the temporary
  // directory, and checks that the catalog's file system has room for
  // every entry it will write (else 112, nothing touched). Each file is
  // written beside its destination and renamed over it when complete.
  // Returns 0
  // after a complete installation (the state (0, "IDS_INSTALL_FINISH" text,
  // 100) was posted, then the thread paused one second); 1223 after a
  // cancel request (the journal was rolled back, then (1223,
  // "IDS_CANCEL_FINISH" text, percent of the entry) was posted); otherwise
  // the code of the failing step, posted with the "IDS_INSTALL_ERROR" text
  // before the rollback ran. A destination that exists and is neither a
  // regular file, a link to one nor a dangling link ends the run with 183;
  // a link inside the catalog that belongs to another user (not root) on
  // the way to a destination ends it with 5. When run returns
  // the rollback, if any, is complete; after its last post it touches no
  // shared object, so the caller need not wait out the pause.
  unsigned run(InstallProcessData* processData);

  // True when `destination` must be written: it is missing, cannot be
  // read, or its last-write time is earlier than `kitTime`. A destination
  // that is not a regular file (followed through links) is never opened, so
  // a FIFO cannot block the run; it answers true.
  bool compareFiles(const wstring& destination, const _FILETIME& kitTime);

  // Posts (code, "IDS_INSTALL_ERROR" text, percent), then rolls the journal
  // back; returns `code`. The failure detail (code, `path`, `systemError`)
  // and the counts so far are stored in the shared state before the post.
  unsigned stopOnError(unsigned code, unsigned long percent, const wstring& path = wstring(),
                       int systemError = 0);

 private:
  // 112 (posted, rolled back) when the entries to be written do not fit.
  unsigned checkSpace(const KitReader& kit, const wstring& targetDir, const wstring& tempDir,
                      const std::vector<wstring>& names);

  Rollback rollback;
  CatalogLock catalogLock;
  InstallProcessData* processData;
  InstallStats stats;
  // Device and inode of every file this run placed.
  std::set<std::pair<unsigned long long, unsigned long long>> placed;
};

#endif  // QXR8_INSTALL_INSTALLER_H_
