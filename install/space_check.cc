#include "install/space_check.h"

#include <sys/statvfs.h>

#include "install/install_codes.h"
#include "platform/file_system.h"

bool available_space(int fd, const std::string& path, uint64_t& bytes) {
  struct statvfs info;
  const int rc = fd >= 0 ? ::fstatvfs(fd, &info) : ::statvfs(path.c_str(), &info);
  if (rc != 0) return false;
  const uint64_t fragment = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
  const uint64_t blocks = info.f_bavail;
  bytes = fragment != 0 && blocks > UINT64_MAX / fragment ? UINT64_MAX : fragment * blocks;
  return true;
}

unsigned check_space(int fd, const std::string& path, uint64_t needed) {
  uint64_t available = 0;
  if (!available_space(fd, path, available)) return kErrorSuccess;
  if (needed > available) return kErrorDiskFull;
  return kErrorSuccess;
}
