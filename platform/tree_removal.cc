#include "platform/tree_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <vector>

namespace {

constexpr int kOpenDirectory = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// One directory on the way from the top of the walk to where it is now.
// Only its identity and name are kept, not a descriptor, so the depth of
// the tree costs memory, never descriptors.
struct Level {
  dev_t device;
  ino_t inode;
  std::string name;             // its name in the level above
  std::set<std::string> stuck;  // entries that could not be removed: not tried again
};

bool is_dot_or_dot_dot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void note_failure(int& firstError, int err) {
  if (firstError == 0) firstError = err;
}

}  // namespace

int remove_tree_at(int parentFd, const std::string& name) {
  struct stat info;
  if (fstatat(parentFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? 0 : errno;
  }
  if (!S_ISDIR(info.st_mode)) {
    return unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT ? 0 : errno;
  }
  if (unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0) return 0;  // already empty

  int fd = openat(parentFd, name.c_str(), kOpenDirectory);
  if (fd < 0) {
    if (errno != ELOOP && errno != ENOTDIR) return errno;
    // Swapped for a link or a file since fstatat: that entry itself goes.
    return unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT ? 0 : errno;
  }
  if (fstat(fd, &info) != 0) {
    const int err = errno;
    close(fd);
    return err;
  }

  int firstError = 0;
  std::vector<Level> path;
  path.push_back(Level{info.st_dev, info.st_ino, name, {}});
  while (true) {
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
      note_failure(firstError, errno);
      close(fd);
      break;
    }
    const int dirFd = dirfd(dir);
    int child = -1;
    while (struct dirent* entry = readdir(dir)) {
      const char* entryName = entry->d_name;
      if (is_dot_or_dot_dot(entryName) || path.back().stuck.count(entryName) != 0) continue;
      struct stat entryInfo;
      if (fstatat(dirFd, entryName, &entryInfo, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;
        note_failure(firstError, errno);
        path.back().stuck.insert(entryName);
        continue;
      }
      const int flags = S_ISDIR(entryInfo.st_mode) ? AT_REMOVEDIR : 0;
      if (unlinkat(dirFd, entryName, flags) == 0 || errno == ENOENT) continue;
      if (flags == 0 || (errno != ENOTEMPTY && errno != EEXIST)) {
        note_failure(firstError, errno);
        path.back().stuck.insert(entryName);
        continue;
      }
      child = openat(dirFd, entryName, kOpenDirectory);
      if (child < 0 && (errno == ELOOP || errno == ENOTDIR)) {
        if (unlinkat(dirFd, entryName, 0) == 0 || errno == ENOENT) continue;
      }
      if (child < 0 || fstat(child, &entryInfo) != 0) {
        note_failure(firstError, errno);
        path.back().stuck.insert(entryName);
        if (child >= 0) close(child);
        child = -1;
        continue;
      }
      path.push_back(Level{entryInfo.st_dev, entryInfo.st_ino, entryName, {}});
      break;
    }
    if (child >= 0) {  // down one level; the one left is read again on the way back
      closedir(dir);
      fd = child;
      continue;
    }
    if (path.size() == 1) {
      closedir(dir);
      break;
    }

    // This level is as empty as it can be made: back up and remove it.
    const int up = openat(dirFd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int upError = errno;
    closedir(dir);
    const Level done = path.back();
    path.pop_back();
    struct stat upInfo;
    if (up < 0 || fstat(up, &upInfo) != 0) {
      note_failure(firstError, up < 0 ? upError : errno);
      if (up >= 0) close(up);
      break;
    }
    if (upInfo.st_dev != path.back().device || upInfo.st_ino != path.back().inode) {
      // The tree was moved while it was walked: stop rather than remove
      // entries of some other directory.
      note_failure(firstError, EBUSY);
      close(up);
      break;
    }
    if (unlinkat(up, done.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
      note_failure(firstError, errno);
      path.back().stuck.insert(done.name);
    }
    fd = up;
  }

  if (unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
    note_failure(firstError, errno);
  }
  return firstError;
}
