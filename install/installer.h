// One installation run: decides, for every entry of the kit's file table,
// whether its installed copy is missing or older than the kit's
// (install_plan.h), then writes the entries that need it, in table order,
// keeping a rollback journal; posts its progress into the run's
// InstallProcessData and, when a step fails, posts the failure and rolls
// everything back.
//
// Runs on the install worker thread; one Installer serves one run.
#ifndef QXR8_INSTALL_INSTALLER_H_
#define QXR8_INSTALL_INSTALLER_H_

#include <memory>
#include <string>

#include "install/catalog_lock.h"
#include "install/entry_decision.h"
#include "install/install_plan.h"
#include "install/install_process_data.h"
#include "install/placement_batch.h"
#include "install/record_folder.h"
#include "install/rollback.h"
#include "platform/file_system.h"
#include "platform/status.h"
#include "platform/wstring.h"

class Installer {
 public:
  Installer();

  // Installs the kit armed in `processData` into its catalog. Before its
  // first write it takes the catalog's lock (another run holding it ends
  // this one at once with 32, nothing touched), undoes a dead run whose
  // state it finds in the catalog (one it cannot undo ends this run, nothing
  // touched), plans every entry and checks that the catalog's file system
  // has room for every entry it will write (else 112, nothing touched).
  // Each file is written beside its destination, made durable and renamed
  // over it, in groups (placement_batch.h); the run commits only once
  // everything it wrote is on disk. Returns 0 after a complete installation (the state (0,
  // "IDS_INSTALL_FINISH" text, 100) was posted, then the thread paused one
  // second); 1223 after a cancel request (the journal was rolled back, then
  // (1223, "IDS_CANCEL_FINISH" text, percent of the entry) was posted);
  // otherwise the code of the failing step, posted with the
  // "IDS_INSTALL_ERROR" text before the rollback ran. A destination that
  // exists and is neither a regular file, a link to one nor a dangling
  // link ends the run with 183; a link inside the catalog that belongs to
  // another user (not root) on the way to a destination ends it with 5.
  // When run returns the rollback, if any, is complete; after its last
  // post it touches no shared object, so the caller need not wait out the
  // pause.
  unsigned run(InstallProcessData* processData);

  // True when `destination` must be written, by the run's own rule
  // (entry_decision.h) without the kit's size: nothing stands there, it
  // cannot be read, or its last-write time is earlier than `kitTime`. A destination that is not a
  // regular file (followed through trusted links) is never opened, so a
  // FIFO cannot block the run.
  bool compareFiles(const wstring& destination, const _FILETIME& kitTime);

  // Posts (code, "IDS_INSTALL_ERROR" text, percent), then rolls the journal
  // back; returns `code`. The failure detail and the counts so far are
  // stored in the shared state before the post.
  unsigned stopOnError(unsigned code, unsigned long percent);
  unsigned stopOnError(const Status& failure, unsigned long percent);

 private:
  // The steps of run, in order. Each returns success or the failure that
  // ends the run.
  // Makes the catalog when missing (`madeCatalog` says so), takes its lock
  // and undoes a dead run left in it.
  Status openCatalog(const wstring& targetDir, bool& madeCatalog);
  // Starts the journal, which then owns a catalog this run made.
  Status startJournal(bool madeCatalog);
  // Makes the folders of entry `index` and writes it beside its
  // destination, into the group of files put in place together (`groupFull`
  // says the group must be put in place now).
  Status stageEntry(KitReader& kit, unsigned long index, const PlannedEntry& planned,
                    unsigned long percent, bool& groupFull);
  // Stages the run's record of `kit` (whole) for the caller's record
  // folder, replacing `own` when there is one, into the group put in place
  // last; the folder is made, journaled, when missing.
  Status stageRecord(KitReader& kit, const InstallPlan& plan, const FoundRecord* own,
                     unsigned long percent);
  // Takes the run's byte counter off the kit reader: every ending calls it
  // before it posts, since the kit's owner may free it once it sees the end.
  void detachProgress();
  // The cancel ending: rolls back, then posts (1223, "IDS_CANCEL_FINISH").
  unsigned cancelRun(unsigned long percent);
  // The success ending: commits the journal, posts 100 %, pauses.
  unsigned finishRun();

  // Rolls the journal back, stores how that ended and frees the catalog.
  void rollBack(unsigned code);

  Rollback rollback;
  PlacementBatch batch;
  CatalogLock catalogLock;
  InstallProcessData* processData;
  KitReader* kitReader;  // the run's kit, not owned
  InstallStats stats;
  // The folder the last entry was staged for.
  std::shared_ptr<const Directory> stagingFolder;
  std::string stagingFolderName;
  FileInfo stagingFolderInfo;
  // When the run makes the catalog: the folder above it and its name.
  wstring catalogParent;
  SystemName catalogName;
};

#endif  // QXR8_INSTALL_INSTALLER_H_
