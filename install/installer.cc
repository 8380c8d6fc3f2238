#include "install/installer.h"

#include <cerrno>

#include "install/catalog_creation.h"
#include "install/catalog_walk.h"
#include "install/file_placement.h"
#include "install/run_recovery.h"
#include "install/sleep.h"
#include "install/space_check.h"
#include "platform/beneath_open.h"
#include "platform/descriptor_budget.h"
#include "platform/system_path.h"
#include "res/string_table.h"

namespace {
// The pause after a complete run, so that the finished bar can be seen.
constexpr int kFinishPauseMs = 1000;
// Descriptors a run needs beside what its batch keeps open: the catalog,
// its state folder with the journal, stage, backup and trash folders, the
// walk to a folder, the kit and its inflation.
constexpr size_t kReservedDescriptors = 10;
// Fewer than this left once the kit is read, and a run could not even put
// one file in place (the state folder, its journal and stage, a folder of
// the catalog and one file); one that replaces files also needs the backup
// tree's folder, and the folder it is reached from while it is made.
constexpr size_t kFewestToPlace = 5;
constexpr size_t kFewestToReplace = 7;
// Fewer than this left, and the run does one thing at a time.
constexpr size_t kFrugalDescriptors = 64;
// Said before anything is written, rather than a failure halfway.
Status enough_descriptors(const Directory& catalog, const InstallPlan& plan) {
  const size_t needed = plan.filesReplaced != 0 ? kFewestToReplace : kFewestToPlace;
  if (spare_descriptors() >= needed) return Status();
  Status status = status_of_errno(EMFILE, catalog.path());
  status.note = u"too few file descriptors are left to this process (ulimit -n) for an "
                u"installation; nothing was written";
  return status;
}

// The run writes its files and keeps its backups in its state folder, and
// puts them in place by renames: a folder of the catalog on another file
// system (a mount point, or where the user's own link leads) is refused,
// named, rather than half written.
Status same_file_system(const Directory& folder, const FileInfo& info, const Directory& stage) {
  FileInfo staging;
  if (!stage.info(staging).ok() || staging.device == info.device) return Status();
  Status status = status_of_errno(EXDEV, folder.path());
  status.note = u"this folder is on another file system than the catalog, where the "
                u"installation cannot keep what it needs to undo itself";
  return status;
}

}  // namespace

Installer::Installer() : batch(rollback), processData(nullptr), kitReader(nullptr) {}

unsigned Installer::run(InstallProcessData* data) {
  processData = data;
  stats = InstallStats();
  KitReader* kit = nullptr;
  wstring targetDir;
  processData->get(kit, targetDir);
  kitReader = kit;
  if (kit == nullptr || targetDir.empty()) return stopOnError(kErrorInvalidParameter, 0);
  if (targetDir.back() == kBadPathSeparatorChar) targetDir.back() = kPathSeparatorChar;

  bool madeCatalog = false;
  Status status = openCatalog(targetDir, madeCatalog);
  if (!status.ok()) return stopOnError(status, 0);
  const Directory& catalog = catalogLock.directory();
  // A catalog this run has just made holds nothing to look at.
  const InstallPlan plan = plan_entries(kit->entries, targetDir, madeCatalog ? nullptr : &catalog);
  status = check_space(plan, kit->entries, catalog);
  processData->setBytesToWrite(plan.bytesToWrite);
  // The reader counts what it copies into the shared state, where the
  // progress displays read it, for this run only: every end of the run
  // detaches it before it posts its final state (detachProgress).
  kit->file().setWriteCounter(processData->bytesWrittenCounter());
  // Short of descriptors, the kit is inflated whole first: its file is
  // then closed for the rest of the run.
  if (status.ok()) {
    status = unpack_kit_for_plan(plan, *kit, spare_descriptors() >= kFrugalDescriptors);
  }
  // A run with nothing to write needs no journal.
  if (status.ok() && plan.writes() != 0) status = enough_descriptors(catalog, plan);
  if (status.ok() && plan.writes() != 0) status = startJournal(madeCatalog);
  if (!status.ok()) return stopOnError(status, 0);

  const unsigned long count = kit->entries.size();
  unsigned long percent = 0;
  for (unsigned long i = 0; i < plan.entries.size(); ++i) {
    const PlannedEntry& planned = plan.entries[i];
    // 64-bit product: no overflow for any table a 32-bit kit can hold.
    percent = i * 100UL / count;
    processData->setInstallState(0, targetDir + planned.name, static_cast<int>(percent),
                                 InstallPosition{i + 1, count});
    if (planned.action == EntryAction::kKeep) {
      ++stats.filesUpToDate;
      continue;
    }
    if (planned.action == EntryAction::kRefuse) return stopOnError(plan.refusal, percent);
    bool groupFull = false;
    status = stageEntry(*kit, i, planned, percent, groupFull);
    if (!status.ok()) return stopOnError(status, percent);
    if (processData->isCancelled()) return cancelRun(percent);
    if (groupFull) status = batch.flush(stats, percent);
    if (!status.ok()) return stopOnError(status, percent);
  }
  status = batch.finish(stats, percent);
  // What was written came from a kit that must prove whole (and signed,
  // when it is) before the run commits; a run that wrote nothing still
  // proves the kit's origin before it reports it up to date.
  if (status.ok()) status = plan.writes() != 0 ? kit_found_whole(*kit) : kit->file().proveOrigin();
  if (!status.ok()) return stopOnError(status, percent);
  return finishRun();
}

Status Installer::openCatalog(const wstring& targetDir, bool& madeCatalog) {
  // The catalog must exist to be locked; one that this run makes is
  // journaled once the lock is held, so that a run refused with 32 never
  // removes a catalog another run made.
  Status status = make_catalog(targetDir, madeCatalog, catalogParent, catalogName);
  if (status.ok()) status = catalogLock.acquire(targetDir);
  if (!status.ok()) return status;
  // Whatever a dead run left in this catalog is undone first; what cannot
  // be undone ends this run before it changes anything.
  std::vector<wstring> notes;
  status = recover_dead_run(catalogLock.directory(), &kitReader->entries, notes);
  processData->addNotes(notes);
  return status;
}

Status Installer::startJournal(bool madeCatalog) {
  const Status status = rollback.startRun(catalogLock.directory());
  if (status.ok() && madeCatalog) rollback.noteMadeCatalog(catalogParent, catalogName);
  // Whatever the run keeps open beside its state: staged files and the
  // folders they go to.
  const size_t spare = spare_descriptors();
  batch.setDescriptorBudget(spare > kReservedDescriptors ? spare - kReservedDescriptors : 2);
  return status;
}

Status Installer::stageEntry(KitReader& kit, unsigned long index, const PlannedEntry& planned,
                             unsigned long percent, bool& groupFull) {
  const Directory& catalog = catalogLock.directory();
  std::string relativeDir;
  std::string leaf;
  split_relative(planned.systemName, relativeDir, leaf);
  // Entries of one folder follow one another: the folder is walked to,
  // and made, once for all of them.
  if (!stagingFolder || stagingFolderName != relativeDir) {
    // The group may still hold it; this run no longer needs it open.
    stagingFolder.reset();
    auto opened = std::make_shared<Directory>();
    Status recorded;
    Status status = open_catalog_directory(
        catalog, from_system_path(relativeDir), true,
        [this, &recorded](const Directory& parent, const wstring&, const wstring& relative) {
          std::string name;
          to_system_path(relative, name);
          if (recorded.ok()) recorded = rollback.recordCreatedDir(parent, name);
        },
        *opened);
    if (status.ok()) status = recorded;
    if (status.ok()) status = opened->info(stagingFolderInfo);
    if (status.ok()) status = same_file_system(*opened, stagingFolderInfo, rollback.stage());
    if (!status.ok()) return status;
    stagingFolder = opened;
    stagingFolderName = relativeDir;
  }
  StagedFile staged;
  const Status status = stage_entry(rollback.stage(), stagingFolderInfo,
                                    catalog.pathOf(planned.name), kit, index, staged);
  // An entry whose bytes never came: the kit is what failed.
  if (!status.ok() && kit.completionFailed()) return kit_found_whole(kit);
  if (!status.ok()) return status;
  PlacementTarget target{stagingFolder, folder_identity_of(stagingFolderInfo), SystemName{leaf},
                         planned.systemName};
  // The first backup of a place wins: what the run itself placed, under
  // whichever name it is reached now, is not backed up again.
  return batch.add(std::move(staged), std::move(target), kit.entries[index].size, percent,
                   planned.action == EntryAction::kWriteNew, planned.existing.placedByThisRun,
                   stats, groupFull);
}

void Installer::detachProgress() {
  if (kitReader != nullptr) kitReader->file().setWriteCounter(nullptr);
}

unsigned Installer::cancelRun(unsigned long percent) {
  detachProgress();
  batch.discard();
  rollBack(kErrorCancelled);
  processData->setStats(stats);
  processData->setFailure(error_status(kErrorCancelled));
  // Posted once the catalog is back as it was, so that the text it
  // carries is true when it is shown; the poller needs a nonzero code.
  processData->setInstallState(kErrorCancelled, LoadResString("IDS_CANCEL_FINISH"),
                               static_cast<int>(percent));
  return kErrorCancelled;
}

unsigned Installer::finishRun() {
  const Status committed = rollback.commit();
  if (!committed.ok()) return stopOnError(committed, 100);
  // The owner of the kit may let it go as soon as the success is posted.
  detachProgress();
  catalogLock.release();
  processData->setStats(stats);
  processData->setInstallState(0, LoadResString("IDS_INSTALL_FINISH"), 100);
  Sleep(kFinishPauseMs);
  return kErrorSuccess;
}

bool Installer::compareFiles(const wstring& destination, const _FILETIME& kitTime) {
  const size_t slash = destination.rfind(kPathSeparatorChar);
  if (slash == wstring::npos) return true;
  Directory folder;
  ExistingCopy existing;
  FileInfo parent;
  if (!Directory::open(destination.substr(0, slash + 1), folder).ok() ||
      !probe_destination(folder, destination.substr(slash + 1), existing, parent).ok()) {
    return true;
  }
  // Without the kit's size only the times are compared.
  return decide_entry(existing, kitTime, existing.size) != EntryAction::kKeep;
}

unsigned Installer::stopOnError(unsigned code, unsigned long percent) {
  return stopOnError(error_status(code), percent);
}

unsigned Installer::stopOnError(const Status& failure, unsigned long percent) {
  detachProgress();
  processData->setFailure(failure);
  processData->setStats(stats);
  processData->setInstallState(failure.code, LoadResString("IDS_INSTALL_ERROR"),
                               static_cast<int>(percent));
  rollBack(failure.code);
  return failure.code;
}

void Installer::rollBack(unsigned code) {
  batch.discard();
  // A failed run reads nothing more of its kit.
  if (kitReader != nullptr) kitReader->abandonCompletion();
  rollback.rollback(code);
  processData->addNotes(rollback.notes());
  processData->setRollbackResult(!rollback.restoreFailed(), rollback.keptBackupDir());
  catalogLock.release();
}
