#include "tests/support/small_tmpfs.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/support/file_io.h"

namespace test_support {

SmallTmpfs::SmallTmpfs(const std::string& directory, size_t bytes, bool readOnly)
    : m_directory(directory) {
  if (!is_dir(directory)) make_dirs(directory);
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  const unsigned long flags = MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY | MS_NOEXEC : 0);
  if (mount("tmpfs", directory.c_str(), "tmpfs", flags, options.c_str()) == 0) {
    m_mounted = true;
  } else {
    m_reason = "cannot mount a small tmpfs on " + directory + ": " + std::strerror(errno);
  }
}

SmallTmpfs::~SmallTmpfs() {
  if (m_mounted) umount2(m_directory.c_str(), MNT_DETACH);
}

void SmallTmpfs::fillLeaving(size_t leave) const {
  struct statvfs info;
  if (statvfs(m_directory.c_str(), &info) != 0) return;
  const size_t free = static_cast<size_t>(info.f_bavail) * info.f_frsize;
  if (free > leave) write_file(path("filler"), std::string(free - leave, 'f'));
}

UnwritableDir::UnwritableDir(const std::string& path) : m_path(path) {
  if (mkdir(m_path.c_str(), 0500) != 0) {
    m_why = "mkdir on " + m_path + " failed: " + std::strerror(errno);
    m_path.clear();
  } else if (geteuid() == 0) {
    m_readOnly = std::make_unique<SmallTmpfs>(m_path, 16 * 1024, true);
    if (!m_readOnly->ok()) {
      m_why = m_readOnly->reason();
      m_path.clear();
    }
  }
}

UnwritableDir::~UnwritableDir() = default;

}  // namespace test_support
