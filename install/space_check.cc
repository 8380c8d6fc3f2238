#include "install/space_check.h"

Status check_space(const InstallPlan& plan, const std::vector<config::KitEntry>& entries,
                   const Directory& catalog, const wstring& tempDir) {
  uint64_t available = 0;
  const bool knowsRoom = catalog.availableSpace(available);
  uint64_t catalogBytes = 0;
  uint64_t backupBytes = 0;
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const PlannedEntry& planned = plan.entries[i];
    if (planned.action != EntryAction::kWriteNew && planned.action != EntryAction::kReplace) {
      continue;
    }
    catalogBytes += entries[i].size;
    if (!planned.existing.placedByThisRun) backupBytes += planned.existing.backupBytes;
    if (knowsRoom && catalogBytes > available) {
      return error_status(kErrorDiskFull, catalog.pathOf(planned.name));
    }
  }
  Directory temp;
  FileInfo catalogInfo;
  FileInfo tempInfo;
  uint64_t tempRoom = 0;
  if (backupBytes != 0 && catalog.info(catalogInfo).ok() && Directory::open(tempDir, temp).ok() &&
      temp.info(tempInfo).ok() && catalogInfo.device != tempInfo.device &&
      temp.availableSpace(tempRoom) && backupBytes > tempRoom) {
    return error_status(kErrorDiskFull, tempDir);
  }
  return Status();
}
