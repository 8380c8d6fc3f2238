#include "install/installer.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "install/catalog_creation.h"
#include "install/catalog_walk.h"
#include "install/file_placement.h"
#include "install/run_record.h"
#include "install/run_recovery.h"
#include "install/signer_continuity.h"
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
  // What the catalog's records say, read under the lock: the signer the
  // kit must keep, and whether this run must write its record.
  CatalogRecords records;
  read_catalog_records(catalog, records);
  processData->addNotes(ignored_record_notes(records));
  const KitOrigin origin =
      kit->file().originCheck() != nullptr ? kit->file().originCheck()->origin() : KitOrigin();
  const std::string kitName = kit_name_of(kit->productInfo);
  const SignerChange change = signer_change(records, kitName, origin);
  if (change.changed && !processData->acceptsNewSigner()) {
    return stopOnError(signer_change_refusal(change, targetDir), 0);
  }
  // A catalog this run has just made holds nothing to look at.
  const InstallPlan plan = plan_entries(kit->entries, targetDir, madeCatalog ? nullptr : &catalog);
  const FoundRecord* own = records.own(kitName);
  // A run writes its record with its files; a run with no file to write
  // writes it only when the record does not already say the same.
  const bool writes = plan.writes() != 0 || !record_is_current(own, *kit, plan);
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
  if (status.ok() && writes) status = enough_descriptors(catalog, plan);
  if (status.ok() && writes) status = startJournal(madeCatalog);
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
  // What was written came from a kit that must prove whole (and signed,
  // when it is) before the run commits, and whose entries' hashes go into
  // its record; a run that writes nothing still proves the kit's origin
  // before it reports it up to date.
  status = writes ? kit_found_whole(*kit) : kit->file().proveOrigin();
  if (status.ok() && writes) status = stageRecord(*kit, plan, own, percent);
  if (status.ok()) status = batch.finish(stats, percent);
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

Status Installer::stageRecord(KitReader& kit, const InstallPlan& plan, const FoundRecord* own,
                              unsigned long percent) {
  const Directory& catalog = catalogLock.directory();
  KitRecord record;
  Status status = build_run_record(kit, plan, static_cast<int64_t>(std::time(nullptr)), record);
  auto folder = std::make_shared<Directory>();
  bool made = false;
  if (status.ok()) status = open_own_record_folder(catalog, true, *folder, made);
  const std::string folderName = record_folder_name(::geteuid());
  if (status.ok() && made) status = rollback.recordCreatedDir(catalog, folderName);
  FileInfo folderInfo;
  if (status.ok()) status = folder->info(folderInfo);
  if (!status.ok()) return status;
  const SystemName leaf{own != nullptr ? own->name.substr(own->name.find('/') + 1)
                                       : record_file_name(record.name)};
  FileInfo here;
  status = folder->info(leaf, FollowLinks::kNo, here);
  if (status.ok() && here.kind != PathKind::kMissing && here.kind != PathKind::kRegular) {
    status = error_status(kErrorAlreadyExists, folder->pathOf(leaf));
  }
  StagedFile staged;
  if (status.ok()) {
    status = stage_text(rollback.stage(), format_kit_record(record), kRecordFileMode,
                        folder->pathOf(leaf), staged);
  }
  if (!status.ok()) return status;
  const uint64_t size = staged.identity.size;
  PlacementTarget target{folder, folder_identity_of(folderInfo), leaf, folderName + "/" + leaf.bytes};
  // The record is not one of the kit's files: it counts in no figure.
  InstallStats uncounted;
  bool groupFull = false;
  return batch.add(std::move(staged), std::move(target), size, percent,
                   here.kind == PathKind::kMissing, false, uncounted, groupFull);
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
