#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/byte_copy.h"
#include "platform/fault_point.h"
#include "platform/system_path.h"

FileInfo file_info_of(const struct stat& status) {
  FileInfo info;
  info.kind = kind_of_mode(status.st_mode);
  info.mode = status.st_mode & 07777;
  info.owner = status.st_uid;
  info.group = status.st_gid;
  info.size = static_cast<uint64_t>(status.st_size);
  info.modified = status.st_mtim.tv_sec;
  info.modifiedNanoseconds = status.st_mtim.tv_nsec;
  info.device = status.st_dev;
  info.inode = status.st_ino;
  info.links = status.st_nlink;
  return info;
}

FolderIdentity folder_identity_of(const FileInfo& info) {
  FolderIdentity identity;
  identity.device = info.device;
  identity.inode = info.inode;
  return identity;
}

FileIdentity file_identity_of(const FileInfo& info) {
  FileIdentity identity;
  identity.device = info.device;
  identity.inode = info.inode;
  identity.size = info.size;
  identity.modified = info.modified;
  identity.modifiedNanoseconds = info.modifiedNanoseconds;
  return identity;
}

Status File::open(const wstring& path, int flags, unsigned mode, File& out) {
  out = File();
  std::string name;
  if (!to_system_path(path, name)) return error_status(kErrorInvalidName, path);
  const int fd = ::open(name.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) return status_of_errno(errno, path);
  out = File(UniqueFd(fd), path);
  return Status();
}

Status descriptor_info(int fd, FileInfo& out) {
  struct stat status;
  if (::fstat(fd, &status) != 0) return status_of_errno(errno, wstring());
  out = file_info_of(status);
  return Status();
}

bool descriptor_available_space(int fd, uint64_t& bytes) {
  struct statvfs status;
  if (::fstatvfs(fd, &status) != 0) return false;
  const uint64_t fragment = status.f_frsize != 0 ? status.f_frsize : status.f_bsize;
  const uint64_t blocks = status.f_bavail;
  bytes = fragment != 0 && blocks > UINT64_MAX / fragment ? UINT64_MAX : fragment * blocks;
  return true;
}

Status File::info(FileInfo& out) const {
  Status status = descriptor_info(m_fd.get(), out);
  if (!status.ok()) status.path = m_path;
  return status;
}

Status descriptor_read_at(int fd, uint64_t offset, void* data, size_t size, size_t& got) {
  got = 0;
  char* bytes = static_cast<char*>(data);
  while (got < size) {
    const ssize_t n = ::pread(fd, bytes + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return status_of_errno(errno, wstring());
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return Status();
}

Status File::readAt(uint64_t offset, void* data, size_t size, size_t& got) const {
  Status status = descriptor_read_at(m_fd.get(), offset, data, size, got);
  if (!status.ok()) status.path = m_path;
  return status;
}

Status File::readAll(std::string& out, uint64_t limit) const {
  std::string data;
  char chunk[65536];
  for (;;) {
    size_t got = 0;
    const Status status = readAt(data.size(), chunk, sizeof chunk, got);
    if (!status.ok()) return status;
    if (got == 0) break;
    if (data.size() + got > limit) return error_status(kErrorInvalidData, m_path);
    data.append(chunk, got);
  }
  out.swap(data);
  return Status();
}

Status File::writeAll(const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(m_fd.get(), bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failure(errno);
    if (n == 0) return error_status(kErrorCantWrite, m_path);
    done += static_cast<size_t>(n);
  }
  return Status();
}

Status File::writeAllAt(uint64_t offset, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n =
        ::pwrite(m_fd.get(), bytes + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failure(errno);
    if (n == 0) return error_status(kErrorCantWrite, m_path);
    done += static_cast<size_t>(n);
  }
  return Status();
}

Status File::copyFrom(const File& source, uint64_t offset, uint64_t size, void* buffer,
                      size_t bufferSize) {
  const int err = copy_bytes(source.descriptor(), offset, size, m_fd.get(), buffer, bufferSize);
  if (err == ENODATA) return error_status(kErrorInvalidData, source.path());
  if (err != 0) return failure(err);
  return Status();
}

Status File::truncate(uint64_t size) {
  reach_fault_point(FaultPoint::kBeforeTruncate);
  if (::ftruncate(m_fd.get(), static_cast<off_t>(size)) != 0) return failure(errno);
  return Status();
}

Status File::setTimes(int64_t seconds) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  if (::futimens(m_fd.get(), times) != 0) return failure(errno);
  return Status();
}

Status File::setGroup(unsigned group) {
  if (::fchown(m_fd.get(), static_cast<uid_t>(-1), static_cast<gid_t>(group)) != 0) {
    return failure(errno);
  }
  return Status();
}

Status File::setMode(unsigned mode) {
  if (::fchmod(m_fd.get(), static_cast<mode_t>(mode)) != 0) return failure(errno);
  return Status();
}

void File::startWriteback() const {
  ::sync_file_range(m_fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
}

Status File::dataSync() const {
  // EINVAL: a file that cannot be synced (a pipe, some special files) has
  // nothing of its own to put on a disk.
  if (::fdatasync(m_fd.get()) != 0 && errno != EINVAL) return failure(errno);
  return Status();
}

Status File::sync() const {
  if (::fsync(m_fd.get()) != 0 && errno != EINVAL) return failure(errno);
  return Status();
}

Status descriptor_lock(int fd, LockMode mode, LockWait wait) {
  const int operation = (mode == LockMode::kExclusive ? LOCK_EX : LOCK_SH) |
                        (wait == LockWait::kNo ? LOCK_NB : 0);
  while (::flock(fd, operation) != 0) {
    if (errno == EINTR) continue;
    return status_of_errno(errno, wstring());
  }
  return Status();
}

Status File::lock(LockMode mode, LockWait wait) const {
  Status status = descriptor_lock(m_fd.get(), mode, wait);
  if (!status.ok()) status.path = m_path;
  return status;
}

Status File::close() {
  const int err = m_fd.close();
  if (err != 0) return failure(err);
  return Status();
}
