#include "config/temporary_sweep.h"

#include <unistd.h>

#include <string>
#include <vector>

#include "config/temporary_file.h"
#include "platform/directory.h"
#include "platform/system_path.h"

void sweep_writer_temporaries(const wstring& path, const RegistrationLock& lock) {
  if (!lock.held()) return;
  Directory folder;
  wstring name;
  std::vector<DirectoryEntry> entries;
  if (!list_writer_folder(path, folder, name, entries)) return;
  const wstring prefix = writer_file_prefix(name, kTemporaryMarker);
  bool removed = false;
  for (const DirectoryEntry& entry : entries) {
    std::string system;
    FileInfo info;
    if (entry.isDirectory || entry.name.compare(0, prefix.size(), prefix) != 0 ||
        !to_system_path(entry.name, system) || writer_of(system.c_str(), kTemporaryMarker) == 0 ||
        !folder.info(entry.name, FollowLinks::kNo, info).ok() ||
        info.kind != PathKind::kRegular || info.owner != ::geteuid()) {
      continue;
    }
    removed = folder.remove(entry.name).ok() || removed;
  }
  // The write that follows syncs the folder anyway; this makes the sweep
  // last on its own when nothing else is written.
  if (removed) folder.sync();
}
