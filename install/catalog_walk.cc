#include "install/catalog_walk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "install/install_codes.h"
#include "install/install_codes.h"
#include "platform/file_system.h"

bool link_owner_trusted(unsigned uid) { return uid == 0 || uid == ::geteuid(); }

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Opens `name` below `parent` as a directory; a link only when trusted.
// -1 with errno set otherwise (ELOOP for an untrusted link, ENOTDIR for
// something that is not a directory).
int open_level(int parent, const char* name, bool& untrustedLink) {
  untrustedLink = false;
  const int fd = ::openat(parent, name, kDirFlags | O_NOFOLLOW);
  if (fd >= 0 || (errno != ELOOP && errno != ENOTDIR)) return fd;
  struct stat link;
  if (::fstatat(parent, name, &link, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  if (!S_ISLNK(link.st_mode)) {
    errno = ENOTDIR;
    return -1;
  }
  if (!link_owner_trusted(link.st_uid)) {
    untrustedLink = true;
    errno = ELOOP;
    return -1;
  }
  const int followed = ::openat(parent, name, kDirFlags);
  if (followed < 0) return -1;
  // The link that was checked must be the one that was followed: a link
  // swapped in meanwhile is a new inode.
  struct stat again;
  if (::fstatat(parent, name, &again, AT_SYMLINK_NOFOLLOW) != 0 || again.st_ino != link.st_ino ||
      again.st_dev != link.st_dev || !link_owner_trusted(again.st_uid)) {
    ::close(followed);
    untrustedLink = true;
    errno = ELOOP;
    return -1;
  }
  return followed;
}

}  // namespace

int open_catalog_directory(int rootFd, const std::string& relative, bool create,
                           const std::function<void(const std::string&)>& onCreated,
                           WalkResult& result) {
  result = WalkResult();
  int current = ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
  if (current < 0) {
    result.systemError = errno;
    result.code = setLastErrorByErrNo(errno);
    return -1;
  }
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string name = relative.substr(start, end - start);
    const std::string level = relative.substr(0, end);
    start = end + 1;

    bool untrusted = false;
    int next = open_level(current, name.c_str(), untrusted);
    if (next < 0 && errno == ENOENT && create) {
      if (::mkdirat(current, name.c_str(), 0777) == 0) {
        struct stat made;
        // Under a strict umask the owner could not make the next level.
        if (::fstatat(current, name.c_str(), &made, AT_SYMLINK_NOFOLLOW) == 0 &&
            (made.st_mode & 0300) != 0300) {
          ::fchmodat(current, name.c_str(), (made.st_mode & 07777) | 0300, 0);
        }
        if (onCreated) onCreated(level);
      } else if (errno != EEXIST) {
        result.systemError = errno;
        result.code = result.systemError == ENOSPC || result.systemError == EDQUOT
                          ? kErrorDiskFull
                          : setLastErrorByErrNo(result.systemError);
        result.failedLevel = level;
        ::close(current);
        return -1;
      }
      next = open_level(current, name.c_str(), untrusted);
    }
    if (next < 0) {
      const int err = errno;
      result.failedLevel = level;
      if (untrusted) {
        result.code = kErrorAccessDenied;
      } else if (err == ENOENT) {
        result.code = kErrorFileNotFound;
      } else if (err == ENOTDIR) {
        result.code = kErrorPathNotFound;
      } else {
        result.systemError = err;
        result.code = setLastErrorByErrNo(err);
      }
      ::close(current);
      return -1;
    }
    ::close(current);
    current = next;
  }
  return current;
}
