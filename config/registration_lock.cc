#include "config/registration_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/process_services.h"
#include "platform/system_path.h"

RegistrationLock::RegistrationLock() {
  const wstring home = home_dir();
  if (home.empty()) return;
  std::string folder;
  if (!to_system_path(home + u"/.Qx", folder)) return;
  mkdir(folder.c_str(), 0777);  // the umask decides, as for any new folder
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  int rc;
  do {
    rc = flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    close(fd);
    return;
  }
  m_fd = fd;
}

RegistrationLock::~RegistrationLock() {
  if (m_fd >= 0) close(m_fd);
}
