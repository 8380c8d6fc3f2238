#include "tests/support/small_tmpfs.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace test_support {

SmallTmpfs::SmallTmpfs(const std::string& directory, unsigned kilobytes)
    : m_directory(directory), m_mounted(false) {
  const std::string options = "size=" + std::to_string(kilobytes) + "k,mode=0700";
  if (mount("tmpfs", directory.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0) {
    m_mounted = true;
  } else {
    m_reason = "cannot mount a small tmpfs on " + directory + ": " + std::strerror(errno);
  }
}

SmallTmpfs::~SmallTmpfs() {
  if (m_mounted) umount2(m_directory.c_str(), MNT_DETACH);
}

}  // namespace test_support
