#include "config/registration_lock.h"

#include "platform/process_services.h"

namespace {
// The umask decides, as for any new folder.
constexpr unsigned kFolderMode = 0777;
}  // namespace

RegistrationLock::RegistrationLock() {
  const wstring home = home_dir();
  Directory homeFolder;
  if (home.empty() || !Directory::open(home, homeFolder).ok()) return;
  homeFolder.makeDirectory(u".Qx", kFolderMode);
  Directory folder;
  if (!homeFolder.openDirectory(u".Qx", FollowLinks::kYes, folder).ok() ||
      !folder.lock(LockMode::kExclusive, LockWait::kYes).ok()) {
    return;
  }
  m_folder = std::move(folder);
}

RegistrationLock::~RegistrationLock() = default;
