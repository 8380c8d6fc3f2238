#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include "platform/random_name.h"
#include "platform/system_path.h"
#include "platform/tree_removal.h"

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

wstring with_final_separator(const wstring& path) {
  if (!path.empty() && path.back() == kPathSeparatorChar) return path;
  return path + kPathSeparator;
}

}  // namespace

bool Directory::systemName(const wstring& name, std::string& out) const {
  return !name.empty() && to_system_path(name, out);
}

namespace {

// A name the system can take as it is: not empty, no zero byte.
bool usable(const SystemName& name) {
  return !name.bytes.empty() && name.bytes.find('\0') == std::string::npos;
}

}  // namespace

Status Directory::open(const wstring& path, Directory& out) {
  out = Directory();
  std::string name;
  if (!to_system_path(path, name) || name.empty()) return error_status(kErrorInvalidName, path);
  const int fd = ::open(name.c_str(), kDirectoryFlags);
  if (fd < 0) return status_of_errno(errno, path);
  out = Directory(UniqueFd(fd), with_final_separator(path));
  return Status();
}

Status Directory::duplicate(Directory& out) const {
  const int fd = ::fcntl(m_fd.get(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return status_of_errno(errno, m_path);
  out = Directory(UniqueFd(fd), m_path);
  return Status();
}

Status Directory::openDirectory(const wstring& name, FollowLinks follow, Directory& out) const {
  out = Directory();
  std::string system;
  if (!systemName(name, system)) return error_status(kErrorInvalidName, pathOf(name));
  return openDirectory(SystemName{system}, follow, out);
}

Status Directory::openDirectory(const SystemName& name, FollowLinks follow, Directory& out) const {
  out = Directory();
  if (!usable(name)) return error_status(kErrorInvalidName, pathOf(name));
  const int flags = kDirectoryFlags | (follow == FollowLinks::kNo ? O_NOFOLLOW : 0);
  const int fd = ::openat(m_fd.get(), name.bytes.c_str(), flags);
  if (fd < 0) return failure(errno, name);
  out = Directory(UniqueFd(fd), with_final_separator(pathOf(name)));
  return Status();
}

Status Directory::openFile(const wstring& name, int flags, unsigned mode, File& out) const {
  out = File();
  std::string system;
  if (!systemName(name, system)) return error_status(kErrorInvalidName, pathOf(name));
  return openFile(SystemName{system}, flags, mode, out);
}

Status Directory::openFile(const SystemName& name, int flags, unsigned mode, File& out) const {
  out = File();
  if (!usable(name)) return error_status(kErrorInvalidName, pathOf(name));
  const int fd =
      ::openat(m_fd.get(), name.bytes.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) return failure(errno, name);
  out = File(UniqueFd(fd), pathOf(name));
  return Status();
}

Status Directory::createExclusive(const wstring& name, unsigned mode, File& out) const {
  return openFile(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode, out);
}

Status Directory::createTemporary(unsigned mode,
                                  const std::function<Status(const wstring& name)>& beforeCreate,
                                  File& out, wstring& name) const {
  // Exclusive creation settles a clash; a hundred clashes in a row mean
  // something else is wrong.
  Status status;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = from_system_path(hidden_temporary_name());
    if (beforeCreate) {
      status = beforeCreate(name);
      if (!status.ok()) return status;
    }
    status = createExclusive(name, mode, out);
    if (status.code != kErrorAlreadyExists) return status;
  }
  return status;
}

Status Directory::createTemporary(unsigned mode, File& out, SystemName& name) const {
  Status status;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = SystemName{hidden_temporary_name()};
    status = openFile(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode, out);
    if (status.code != kErrorAlreadyExists) return status;
  }
  return status;
}

Status Directory::info(const wstring& name, FollowLinks follow, FileInfo& out) const {
  out = FileInfo();
  std::string system;
  if (!systemName(name, system)) return error_status(kErrorInvalidName, pathOf(name));
  return info(SystemName{system}, follow, out);
}

Status Directory::info(const SystemName& name, FollowLinks follow, FileInfo& out) const {
  out = FileInfo();
  if (!usable(name)) return error_status(kErrorInvalidName, pathOf(name));
  struct stat status;
  const int flags = follow == FollowLinks::kNo ? AT_SYMLINK_NOFOLLOW : 0;
  if (::fstatat(m_fd.get(), name.bytes.c_str(), &status, flags) != 0) {
    if (errno == ENOENT) return Status();  // kind stays kMissing
    return failure(errno, name);
  }
  out = file_info_of(status);
  return Status();
}

Status Directory::info(FileInfo& out) const {
  struct stat status;
  if (::fstat(m_fd.get(), &status) != 0) return status_of_errno(errno, m_path);
  out = file_info_of(status);
  return Status();
}

Status Directory::makeDirectory(const wstring& name, unsigned mode) const {
  std::string system;
  if (!systemName(name, system)) return error_status(kErrorInvalidName, pathOf(name));
  return makeDirectory(SystemName{system}, mode);
}

Status Directory::makeDirectory(const SystemName& name, unsigned mode) const {
  if (!usable(name)) return error_status(kErrorInvalidName, pathOf(name));
  if (::mkdirat(m_fd.get(), name.bytes.c_str(), static_cast<mode_t>(mode)) != 0) {
    return failure(errno, name);
  }
  return Status();
}

Status Directory::setMode(const wstring& name, unsigned mode) const {
  std::string system;
  if (!systemName(name, system)) return error_status(kErrorInvalidName, pathOf(name));
  if (::fchmodat(m_fd.get(), system.c_str(), static_cast<mode_t>(mode), 0) != 0) {
    return failure(errno, name);
  }
  return Status();
}

Status Directory::setOwnMode(unsigned mode) const {
  if (::fchmod(m_fd.get(), static_cast<mode_t>(mode)) != 0) return status_of_errno(errno, m_path);
  return Status();
}

Status Directory::rename(const wstring& from, const Directory& target, const wstring& to) const {
  std::string source;
  std::string destination;
  if (!systemName(from, source)) return error_status(kErrorInvalidName, pathOf(from));
  if (!target.systemName(to, destination)) {
    return error_status(kErrorInvalidName, target.pathOf(to));
  }
  return rename(SystemName{source}, target, SystemName{destination});
}

Status Directory::rename(const SystemName& from, const Directory& target,
                         const SystemName& to) const {
  if (!usable(from)) return error_status(kErrorInvalidName, pathOf(from));
  if (!usable(to)) return error_status(kErrorInvalidName, target.pathOf(to));
  if (::renameat(m_fd.get(), from.bytes.c_str(), target.m_fd.get(), to.bytes.c_str()) != 0) {
    return failure(errno, from);
  }
  return Status();
}

Status Directory::renameNoReplace(const SystemName& from, const Directory& target,
                                  const SystemName& to) const {
  if (!usable(from)) return error_status(kErrorInvalidName, pathOf(from));
  if (!usable(to)) return error_status(kErrorInvalidName, target.pathOf(to));
  if (::renameat2(m_fd.get(), from.bytes.c_str(), target.m_fd.get(), to.bytes.c_str(),
                  RENAME_NOREPLACE) == 0) {
    return Status();
  }
  if (errno != EINVAL && errno != ENOSYS) {
    // Named after the taken target when that is the reason.
    return errno == EEXIST ? target.failure(errno, to) : failure(errno, from);
  }
  // No such rename here: a link under the new name fails on a taken name
  // as the rename would have; a directory cannot be moved this way.
  if (::linkat(m_fd.get(), from.bytes.c_str(), target.m_fd.get(), to.bytes.c_str(), 0) != 0) {
    return errno == EEXIST ? target.failure(errno, to) : failure(errno, from);
  }
  if (::unlinkat(m_fd.get(), from.bytes.c_str(), 0) != 0) {
    const int err = errno;
    ::unlinkat(target.m_fd.get(), to.bytes.c_str(), 0);
    return failure(err, from);
  }
  return Status();
}

Status Directory::remove(const wstring& name) const {
  std::string system;
  if (!systemName(name, system)) return error_status(kErrorInvalidName, pathOf(name));
  return remove(SystemName{system});
}

Status Directory::remove(const SystemName& name) const {
  if (!usable(name)) return error_status(kErrorInvalidName, pathOf(name));
  if (::unlinkat(m_fd.get(), name.bytes.c_str(), 0) != 0 && errno != ENOENT) {
    return failure(errno, name);
  }
  return Status();
}

Status Directory::removeDirectory(const wstring& name) const {
  std::string system;
  if (!systemName(name, system)) return error_status(kErrorInvalidName, pathOf(name));
  return removeDirectory(SystemName{system});
}

Status Directory::removeDirectory(const SystemName& name) const {
  if (!usable(name)) return error_status(kErrorInvalidName, pathOf(name));
  if (::unlinkat(m_fd.get(), name.bytes.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
    return failure(errno, name);
  }
  return Status();
}

Status Directory::removeTree(const wstring& name) const {
  std::string system;
  if (!systemName(name, system)) return error_status(kErrorInvalidName, pathOf(name));
  const int err = remove_tree_at(m_fd.get(), system);
  if (err != 0) {
    Status status = failure(err, name);
    status.code = kErrorDirNotEmpty;
    return status;
  }
  return Status();
}

Status Directory::list(std::vector<DirectoryEntry>& out) const {
  out.clear();
  // readdir owns the descriptor it is given: it gets a copy of its own,
  // and reads from the start.
  const int fd = ::openat(m_fd.get(), ".", kDirectoryFlags);
  if (fd < 0) return status_of_errno(errno, m_path);
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const int err = errno;
    ::close(fd);
    return status_of_errno(err, m_path);
  }
  while (struct dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat status;
    bool isDirectory = false;
    if (::fstatat(::dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
      isDirectory = S_ISDIR(status.st_mode);
    }
    out.push_back(DirectoryEntry{from_system_path(name), isDirectory});
  }
  ::closedir(dir);
  return Status();
}

Status Directory::sync() const {
  if (::fsync(m_fd.get()) != 0 && errno != EINVAL) return status_of_errno(errno, m_path);
  return Status();
}

Status Directory::lock(LockMode mode, LockWait wait) const {
  Status status = descriptor_lock(m_fd.get(), mode, wait);
  if (!status.ok()) status.path = m_path;
  return status;
}

bool Directory::availableSpace(uint64_t& bytes) const {
  return descriptor_available_space(m_fd.get(), bytes);
}

wstring Directory::realPath() const {
  // The kernel keeps the name a descriptor was reached by up to date.
  const std::string link = "/proc/self/fd/" + std::to_string(m_fd.get());
  char buffer[PATH_MAX + 1];
  const ssize_t n = ::readlink(link.c_str(), buffer, PATH_MAX);
  if (n <= 0 || buffer[0] != '/') return m_path;
  return with_final_separator(from_system_path(std::string(buffer, static_cast<size_t>(n))));
}

wstring Directory::pathOf(const SystemName& name) const {
  return m_path + from_system_path(name.bytes);
}

Directory Directory::adopt(UniqueFd fd, const wstring& path) {
  return Directory(std::move(fd), with_final_separator(path));
}
