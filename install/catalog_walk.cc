#include "install/catalog_walk.h"

#include <unistd.h>

#include <cerrno>

#include "platform/error_codes.h"

bool link_owner_trusted(unsigned uid) { return uid == 0 || uid == ::geteuid(); }

namespace {

// Mode of a level the walk makes; the umask applies.
constexpr unsigned kNewLevelMode = 0777;
// What the owner needs on a level to make the next one below it.
constexpr unsigned kOwnerWriteSearch = 0300;

Status refused(unsigned code, const Directory& parent, const wstring& name) {
  return error_status(code, parent.pathOf(name));
}

// Opens `name` below `parent` as a directory; a link only when trusted.
Status open_level(const Directory& parent, const wstring& name, Directory& out) {
  Status status = parent.openDirectory(name, FollowLinks::kNo, out);
  if (status.ok() || (status.systemError != ELOOP && status.systemError != ENOTDIR)) {
    return status;
  }
  FileInfo link;
  const Status looked = parent.info(name, FollowLinks::kNo, link);
  if (!looked.ok()) return looked;
  if (link.kind == PathKind::kMissing) return status_of_errno(ENOENT, parent.pathOf(name));
  if (link.kind != PathKind::kSymlink) return refused(kErrorPathNotFound, parent, name);
  if (!link_owner_trusted(link.owner)) return refused(kErrorAccessDenied, parent, name);
  status = parent.openDirectory(name, FollowLinks::kYes, out);
  if (!status.ok()) return status;
  // The link that was checked must be the one that was followed: a link
  // swapped in meanwhile is a new inode.
  FileInfo again;
  if (!parent.info(name, FollowLinks::kNo, again).ok() || !again.sameFile(link) ||
      !link_owner_trusted(again.owner)) {
    out = Directory();
    return refused(kErrorAccessDenied, parent, name);
  }
  return Status();
}

// Makes the missing level `name` below `parent`; a level that appeared
// meanwhile is fine.
Status make_level(const Directory& parent, const wstring& name, bool& made) {
  made = false;
  const Status status = parent.makeDirectory(name, kNewLevelMode);
  if (status.code == kErrorAlreadyExists) return Status();
  if (!status.ok()) return status;
  made = true;
  FileInfo info;
  // Under a strict umask the owner could not make the next level.
  if (parent.info(name, FollowLinks::kNo, info).ok() && info.kind == PathKind::kDirectory &&
      (info.mode & kOwnerWriteSearch) != kOwnerWriteSearch) {
    parent.setMode(name, info.mode | kOwnerWriteSearch);
  }
  return Status();
}

}  // namespace

Status open_catalog_directory(const Directory& root, const wstring& relative, bool create,
                              const LevelMade& onCreated, Directory& out) {
  // The first level is opened from `root` itself: a walk costs at most two
  // descriptors at any moment.
  Directory current;
  Status status;
  if (relative.empty()) status = root.duplicate(current);
  size_t start = 0;
  while (status.ok() && start < relative.size()) {
    const Directory& from = current.isOpen() ? current : root;
    size_t end = relative.find(kPathSeparatorChar, start);
    if (end == wstring::npos) end = relative.size();
    const wstring name = relative.substr(start, end - start);
    start = end + 1;

    Directory next;
    status = open_level(from, name, next);
    if (!status.ok() && status.systemError == ENOENT && create) {
      bool made = false;
      status = make_level(from, name, made);
      if (status.ok() && made && onCreated) onCreated(from, name, relative.substr(0, end));
      if (status.ok()) status = open_level(from, name, next);
    }
    if (status.ok()) current = std::move(next);
  }
  if (!status.ok()) return status;
  out = std::move(current);
  return Status();
}
