#include "install/space_check.h"

Status check_space(const InstallPlan& plan, const std::vector<config::KitEntry>& entries,
                   const Directory& catalog) {
  uint64_t available = 0;
  if (!catalog.availableSpace(available)) return Status();
  uint64_t catalogBytes = 0;
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const PlannedEntry& planned = plan.entries[i];
    if (planned.action != EntryAction::kWriteNew && planned.action != EntryAction::kReplace) {
      continue;
    }
    catalogBytes += entries[i].size;
    if (catalogBytes > available) return error_status(kErrorDiskFull, catalog.pathOf(planned.name));
  }
  return Status();
}
