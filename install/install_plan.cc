#include "install/install_plan.h"

#include "install/install_process_data.h"
#include "install/installer.h"
#include "install/path_status.h"

unsigned plan_install(KitReader& kit, const wstring& catalog, InstallPlan& plan,
                      InstallFailure& failure) {
  plan = InstallPlan();
  failure = InstallFailure();
  // The catalog as a run receives it from the shared state.
  InstallProcessData data;
  data.init(&kit, catalog);
  KitReader* armed = nullptr;
  wstring targetDir;
  data.get(armed, targetDir);

  Installer installer;  // only asked; its journal is never started
  for (const config::KitEntry& entry : kit.entries) {
    const wstring destination = targetDir + normalised_kit_name(entry.name);
    const PathKind kind = path_kind(destination, false);
    if (kind != PathKind::kMissing && kind != PathKind::kUnknown &&
        !is_replaceable_file(destination)) {
      failure.code = kErrorAlreadyExists;
      failure.path = destination;
      return failure.code;
    }
    if (!installer.compareFiles(destination, entry.lastWriteTime)) {
      ++plan.upToDate;
      continue;
    }
    const bool replaces = kind != PathKind::kMissing;
    plan.writes.push_back(PlannedWrite{destination, replaces});
    ++(replaces ? plan.filesReplaced : plan.filesNew);
  }
  return kErrorSuccess;
}
