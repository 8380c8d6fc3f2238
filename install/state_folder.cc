#include "install/state_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include "install/run_state.h"
#include "platform/process_services.h"
#include "platform/system_path.h"
#include "platform/tree_removal.h"

namespace {

const SystemName kStateName{kRunStateFolderSystemName};
// Dated names tried beside the state folder before giving up.
constexpr int kAsideAttempts = 100;

// The mode a state folder has in `catalog`: private, plus the setgid bit
// that a setgid catalog passes on to every folder made in it.
unsigned expected_mode(const Directory& catalog) {
  FileInfo info;
  const bool setgid = catalog.info(info).ok() && (info.mode & S_ISGID) != 0;
  return kRunStateMode | (setgid ? S_ISGID : 0u);
}

// Private: nobody but its owner may reach into it. The setgid bit is
// allowed either way (a catalog may have gained or lost it since).
bool is_private(const FileInfo& info) {
  return info.kind == PathKind::kDirectory && info.owner == ::geteuid() &&
         (info.mode & 07777 & ~static_cast<unsigned>(S_ISGID)) == kRunStateMode;
}

std::string dated_name(int attempt) {
  const std::time_t now = std::time(nullptr);
  struct tm local;
  char stamp[32] = "unknown";
  if (::localtime_r(&now, &local) != nullptr) {
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  }
  std::string name = std::string(kRunStateFolderSystemName) + "-" + stamp;
  if (attempt > 0) name += "-" + std::to_string(attempt + 1);
  return name;
}

// Whether `folder` holds anything but folders, at any depth (links are not
// followed: a link counts as a file).
bool holds_files(const Directory& folder) {
  std::vector<DirectoryEntry> entries;
  if (!folder.list(entries).ok()) return true;  // unreadable: assume it may
  for (const DirectoryEntry& entry : entries) {
    Directory below;
    if (!entry.isDirectory || !folder.openDirectory(entry.name, FollowLinks::kNo, below).ok() ||
        holds_files(below)) {
      return true;
    }
  }
  return false;
}

}  // namespace

wstring owner_description(unsigned uid) {
  const wstring name = user_name(uid);
  const wstring number = from_system_path(std::to_string(uid));
  if (name == number) return u"the user with uid " + number + u" (no such user exists)";
  return u"the user " + name;
}

Status StateFolder::make(const Directory& catalog, StateFolder& out) {
  out = StateFolder();
  const unsigned mode = expected_mode(catalog);
  Status status = catalog.makeDirectory(kStateName, kRunStateMode);
  if (!status.ok()) return status;
  Directory folder;
  status = catalog.openDirectory(kStateName, FollowLinks::kNo, folder);
  // The umask may have taken bits the owner needs; the descriptor is
  // changed, not whatever the name leads to by now.
  if (status.ok()) status = folder.setOwnMode(mode);
  FileInfo info;
  if (status.ok()) status = folder.info(info);
  if (status.ok() && !is_private(info)) status = error_status(kErrorAccessDenied, folder.path());
  if (!status.ok()) {
    if (folder.isOpen()) catalog.removeDirectory(kStateName);
    return status;
  }
  out.m_folder = std::move(folder);
  // The backup tree is only made here; it is opened when a file is kept.
  status = out.m_folder.makeDirectory(SystemName{kRunBackupFolderName}, kRunStateMode);
  const Directory* made = nullptr;
  if (status.ok()) status = out.inner(kRunStageFolderName, true, out.m_stage, made);
  return status;
}

Status StateFolder::find(const Directory& catalog, Found& found, unsigned& owner,
                         StateFolder& out) {
  out = StateFolder();
  found = Found::kNone;
  owner = 0;
  FileInfo info;
  Status status = catalog.info(kStateName, FollowLinks::kNo, info);
  if (!status.ok()) return status;
  if (info.kind == PathKind::kMissing) return Status();
  owner = info.owner;
  found = Found::kOpen;
  if (info.kind != PathKind::kDirectory) return Status();
  if (info.owner != ::geteuid()) {
    found = Found::kForeign;
    return Status();
  }
  Directory folder;
  // What is judged is what was opened: a folder swapped in since the look
  // above is judged by its own descriptor.
  if (!catalog.openDirectory(kStateName, FollowLinks::kNo, folder).ok() ||
      !folder.info(info).ok()) {
    return Status();
  }
  owner = info.owner;
  if (info.owner != ::geteuid()) {
    found = Found::kForeign;
    return Status();
  }
  if (!is_private(info)) return Status();
  found = Found::kOwn;
  out.m_folder = std::move(folder);
  return Status();
}

Status StateFolder::inner(const char* name, bool create, Directory& slot, const Directory*& out) {
  out = nullptr;
  if (!slot.isOpen()) {
    const SystemName system{name};
    if (create) {
      const Status made = m_folder.makeDirectory(system, kRunStateMode);
      if (!made.ok() && made.code != kErrorAlreadyExists) return made;
    }
    const Status status = m_folder.openDirectory(system, FollowLinks::kNo, slot);
    if (!status.ok()) return status;
  }
  out = &slot;
  return Status();
}

Status StateFolder::backup(const Directory*& out) {
  return inner(kRunBackupFolderName, false, m_backup, out);
}

Status StateFolder::stage(const Directory*& out) {
  return inner(kRunStageFolderName, true, m_stage, out);
}

Status StateFolder::trash(const Directory*& out) {
  return inner(kRunTrashFolderName, true, m_trash, out);
}

bool StateFolder::hasBackups() const {
  FileInfo info;
  return m_folder.info(SystemName{kRunBackupFolderName}, FollowLinks::kNo, info).ok() &&
         info.kind == PathKind::kDirectory;
}

bool StateFolder::backupsHoldFiles() const {
  Directory backup;
  return m_folder.openDirectory(SystemName{kRunBackupFolderName}, FollowLinks::kNo, backup).ok() &&
         holds_files(backup);
}

Status StateFolder::remove(const Directory& catalog) {
  m_backup = Directory();
  m_stage = Directory();
  m_trash = Directory();
  Status first;
  std::vector<DirectoryEntry> entries;
  first = m_folder.list(entries);
  // Everything but the journal, through this folder's own descriptor.
  for (const DirectoryEntry& entry : entries) {
    std::string name;
    if (!to_system_path(entry.name, name) || name == kRunJournalName) continue;
    const int err = remove_tree_at(m_folder.descriptor(), name);
    if (err != 0 && first.ok()) first = status_of_errno(err, m_folder.pathOf(entry.name));
  }
  Status status = m_folder.sync();
  if (first.ok()) first = status;
  // The journal goes only once what it protected is gone for good.
  if (first.ok()) first = m_folder.remove(SystemName{kRunJournalName});
  if (first.ok()) first = m_folder.sync();
  FileInfo mine;
  FileInfo named;
  // The name is removed only while it still is this folder, and only when
  // empty: someone may have swapped it in a catalog others can write.
  if (first.ok() && m_folder.info(mine).ok() &&
      catalog.info(kStateName, FollowLinks::kNo, named).ok() && named.sameFile(mine)) {
    first = catalog.removeDirectory(kStateName);
    if (first.ok()) first = catalog.sync();
  }
  m_folder = Directory();
  return first;
}

Status StateFolder::moveAside(const Directory& catalog, wstring& aside) {
  aside.clear();
  m_backup = Directory();
  m_stage = Directory();
  m_trash = Directory();
  FileInfo mine;
  FileInfo named;
  Status status = m_folder.info(mine);
  if (status.ok()) status = catalog.info(kStateName, FollowLinks::kNo, named);
  if (status.ok() && !named.sameFile(mine)) status = error_status(kErrorAccessDenied, path());
  for (int attempt = 0; status.ok() && attempt < kAsideAttempts; ++attempt) {
    const SystemName name{dated_name(attempt)};
    status = catalog.renameNoReplace(kStateName, catalog, name);
    if (status.ok()) {
      aside = catalog.pathOf(name) + u"/";
      status = catalog.sync();
      break;
    }
    if (status.code == kErrorAlreadyExists) status = Status();
  }
  if (status.ok() && aside.empty()) status = error_status(kErrorAlreadyExists, path());
  m_folder = Directory();
  return status;
}
