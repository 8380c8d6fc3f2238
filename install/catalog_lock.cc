#include "install/catalog_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "install/install_codes.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"

unsigned CatalogLock::acquire(const wstring& catalog, int& systemError) {
  release();
  systemError = 0;
  const int fd = ::open(narrow_lib(catalog).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    systemError = errno;
    return systemError == ENOTDIR ? kErrorPathNotFound : setLastErrorByErrNo(systemError);
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    systemError = errno;
    ::close(fd);
    return systemError == EWOULDBLOCK ? kErrorSharingViolation
                                      : setLastErrorByErrNo(systemError);
  }
  m_fd = fd;
  return kErrorSuccess;
}

void CatalogLock::release() {
  if (m_fd < 0) return;
  ::close(m_fd);  // the lock goes with the last descriptor
  m_fd = -1;
}
