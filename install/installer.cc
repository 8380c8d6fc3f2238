#include "install/installer.h"

#include "install/catalog_walk.h"
#include "install/file_placement.h"
#include "install/run_recovery.h"
#include "install/sleep.h"
#include "install/space_check.h"
#include "res/string_table.h"

namespace {
// The pause after a complete run, so that the finished bar can be seen.
constexpr int kFinishPauseMs = 1000;
}  // namespace

Installer::Installer() : processData(nullptr) {}

unsigned Installer::run(InstallProcessData* data) {
  processData = data;
  stats = InstallStats();
  KitReader* kit = nullptr;
  wstring targetDir;
  processData->get(kit, targetDir);
  if (kit == nullptr || targetDir.empty()) return stopOnError(kErrorInvalidParameter, 0);
  if (targetDir.back() == kBadPathSeparatorChar) targetDir.back() = kPathSeparatorChar;

  Status status = beginRun(targetDir);
  if (!status.ok()) return stopOnError(status, 0);
  const Directory& catalog = catalogLock.directory();
  const InstallPlan plan = plan_entries(kit->entries, targetDir, &catalog);
  status = check_space(plan, kit->entries, catalog, tempDir);
  if (!status.ok()) return stopOnError(status, 0);

  const unsigned long count = kit->entries.size();
  for (unsigned long i = 0; i < plan.entries.size(); ++i) {
    const PlannedEntry& planned = plan.entries[i];
    // 64-bit product: no overflow for any table a 32-bit kit can hold.
    const unsigned long percent = i * 100UL / count;
    processData->setInstallState(0, targetDir + planned.name, static_cast<int>(percent),
                                 InstallPosition{i + 1, count});
    if (planned.action == EntryAction::kKeep) {
      ++stats.filesUpToDate;
      continue;
    }
    if (planned.action == EntryAction::kRefuse) return stopOnError(planned.refusal, percent);
    status = writeEntry(*kit, i, planned);
    if (!status.ok()) return stopOnError(status, percent);
    if (processData->isCancelled()) return cancelRun(percent);
  }
  return finishRun();
}

Status Installer::beginRun(const wstring& targetDir) {
  // The catalog must exist to be locked; one that this run makes is
  // journaled once the lock is held, so that a run refused with 32 never
  // removes a catalog another run made.
  const unsigned madeCatalog = FileSystem::CreateDirectory(targetDir);
  if (madeCatalog != kErrorSuccess && madeCatalog != kErrorAlreadyExists) {
    return error_status(madeCatalog, targetDir);
  }
  Status status = catalogLock.acquire(targetDir);
  if (!status.ok()) return status;

  FileSystem::GetTempPath(tempDir);
  recover_dead_runs(tempDir, catalogLock.directory());
  status = rollback.startRun(targetDir);
  if (!status.ok()) return status;
  if (madeCatalog == kErrorSuccess) rollback.recordCreatedDir(targetDir);
  return Status();
}

Status Installer::writeEntry(KitReader& kit, unsigned long index, const PlannedEntry& planned) {
  const Directory& catalog = catalogLock.directory();
  const wstring destination = catalog.pathOf(planned.name);
  // The first backup of a place wins: what the run itself placed, under
  // whichever name it is reached now, is not backed up again.
  bool isNew = false;
  if (!planned.existing.placedByThisRun) {
    const Status stored = rollback.storeBackup(destination);
    isNew = stored.code == kErrorFileNotFound || stored.code == kErrorPathNotFound;
    // Journaled before it is written, so that a run that fails or dies
    // while placing it removes it too.
    const Status journaled = isNew ? rollback.recordAddedFile(destination) : stored;
    if (!journaled.ok()) return journaled;
  }

  const size_t slash = planned.name.rfind(kPathSeparatorChar);
  const wstring relativeDir = slash == wstring::npos ? wstring() : planned.name.substr(0, slash);
  const wstring leaf = slash == wstring::npos ? planned.name : planned.name.substr(slash + 1);
  Directory directory;
  Status status = open_catalog_directory(
      catalog, relativeDir, true,
      [this, &catalog](const wstring& level) { rollback.recordCreatedDir(catalog.pathOf(level)); },
      directory);
  if (!status.ok()) return status;

  StagedFile staged;
  status = stage_entry(directory, leaf, kit, index,
                       [this, &directory](const wstring& temporary) {
                         return rollback.recordTemporary(directory.pathOf(temporary));
                       },
                       staged);
  FileInfo placed;
  if (status.ok()) status = put_in_place(staged, placed);
  if (!status.ok()) return status;
  ++(isNew ? stats.filesNew : stats.filesReplaced);
  stats.bytesWritten += kit.entries[index].size;
  return Status();
}

unsigned Installer::cancelRun(unsigned long percent) {
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
  rollback.stop();
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
  return decide_entry(existing, kitTime) != EntryAction::kKeep;
}

unsigned Installer::stopOnError(unsigned code, unsigned long percent) {
  return stopOnError(error_status(code), percent);
}

unsigned Installer::stopOnError(const Status& failure, unsigned long percent) {
  processData->setFailure(failure);
  processData->setStats(stats);
  processData->setInstallState(failure.code, LoadResString("IDS_INSTALL_ERROR"),
                               static_cast<int>(percent));
  rollBack(failure.code);
  return failure.code;
}

void Installer::rollBack(unsigned code) {
  rollback.rollback(code);
  processData->setRollbackResult(!rollback.restoreFailed(), rollback.keptBackupDir());
  catalogLock.release();
}
