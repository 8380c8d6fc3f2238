#include "platform/unique_fd.h"

#include <unistd.h>

#include <cerrno>

void UniqueFd::reset(int fd) {
  if (m_fd >= 0 && m_fd != fd) ::close(m_fd);
  m_fd = fd;
}

int UniqueFd::close() {
  if (m_fd < 0) return 0;
  const int rc = ::close(release());
  // Linux frees the descriptor even when close is interrupted: retrying
  // could close a descriptor another thread has just been given.
  return rc == 0 || errno == EINTR ? 0 : errno;
}
