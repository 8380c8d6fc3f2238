#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/cross_device_move.h"
#include "platform/random_name.h"
#include "platform/system_path.h"
#include "platform/tree_removal.h"

std::atomic<int> ms_lastError{0};

namespace {

// The errno behind ms_lastError (0 when the code did not come from a failed
// system call). Written right after ms_lastError and cleared with it.
std::atomic<int> ms_lastSystemError{0};

constexpr uint64_t kEpochDifferenceSeconds = 11644473600ull;  // 1601-01-01 .. 1970-01-01
constexpr uint64_t kTicksPerSecond = 10000000ull;

void reset_last_error() {
  ms_lastError.store(0, std::memory_order_relaxed);
  ms_lastSystemError.store(0, std::memory_order_relaxed);
}

// `systemError` is the errno of the failed call that the code stands for,
// 0 when the failure was found without one (an invalid handle, a bad argument).
unsigned store_last_error(unsigned code, int systemError = 0) {
  ms_lastError.store(static_cast<int>(code), std::memory_order_relaxed);
  ms_lastSystemError.store(systemError, std::memory_order_relaxed);
  return code;
}

unsigned code_of_errno(int err) {
  return err == ENOENT ? kErrorFileNotFound : kErrorInvalidParameter;
}

// A write's own reasons get their own codes, so that a full disk or the
// file-size limit can be told from a bad handle.
unsigned code_of_write_errno(int err) {
  if (err == ENOSPC || err == EDQUOT) return kErrorDiskFull;
  if (err == EFBIG) return kErrorFileTooLarge;
  return code_of_errno(err);
}

bool is_invalid(void* handle) { return handle == kInvalidHandleValue; }


bool is_directory(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// `path` without trailing slashes; "/" (or a run of them) stays "/".
std::string without_trailing_slashes(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  return path.substr(0, end);
}

// The last component of `path` (trailing slashes ignored).
std::string base_name(const std::string& path) {
  std::string trimmed = without_trailing_slashes(path);
  size_t slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// Adds owner write and search to the directory `path` that this process has
// just made. 0 or errno.
int make_searchable(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return errno;
  if (!S_ISDIR(info.st_mode)) return ENOTDIR;  // swapped since mkdir: leave it alone
  const mode_t wanted = (info.st_mode & 07777) | S_IWUSR | S_IXUSR;
  if (wanted == (info.st_mode & 07777)) return 0;
  return ::chmod(path.c_str(), wanted) == 0 ? 0 : errno;
}

// Six characters drawn from [A-Za-z0-9].
std::string random_suffix() {
  return random_characters("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", 6);
}

}  // namespace

int descriptor_of_handle(void* handle) {
  return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

unsigned setLastErrorByErrNo(int err) {
  return store_last_error(code_of_errno(err), err);
}

long FileTimeToEpoch(const _FILETIME& fileTime) {
  uint64_t ticks = (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
  return static_cast<long>(ticks / kTicksPerSecond) - static_cast<long>(kEpochDifferenceSeconds);
}

_FILETIME EpochToFileTime(const long& epochSeconds) {
  // Unsigned arithmetic: times before 1601 wrap instead of overflowing.
  uint64_t ticks = (static_cast<uint64_t>(epochSeconds) + kEpochDifferenceSeconds) * kTicksPerSecond;
  _FILETIME out;
  out.dwLowDateTime = static_cast<uint32_t>(ticks & 0xFFFFFFFFu);
  out.dwHighDateTime = static_cast<uint32_t>(ticks >> 32);
  return out;
}

unsigned FileSystem::CreateFile(const wstring& path, unsigned access, unsigned /*shareMode*/,
                                unsigned disposition, void*& handle) {
  reset_last_error();
  int flags = O_RDONLY;
  if (access & kGenericWrite) flags = (access & kGenericRead) ? O_RDWR : O_WRONLY;
  if (disposition == kCreateAlways) flags |= O_CREAT;
  if (disposition == kTruncateExisting) flags |= O_TRUNC;
  std::string name;
  if (!to_system_path(path, name)) return store_last_error(kErrorInvalidName);
  // Close-on-exec keeps our files out of the programs we start.
  int fd = ::open(name.c_str(), flags | O_CLOEXEC, 0660);
  if (fd < 0) return setLastErrorByErrNo(errno);
  handle = reinterpret_cast<void*>(static_cast<intptr_t>(fd));
  return kErrorSuccess;
}

unsigned FileSystem::ReadFile(void* handle, void* buffer, unsigned toRead, unsigned* read,
                              _OVERLAPPED* overlapped) {
  reset_last_error();
  if (read == nullptr) {
    if (overlapped == nullptr) return store_last_error(kErrorInvalidParameter);
    return static_cast<unsigned>(ms_lastError.load(std::memory_order_relaxed));
  }
  *read = 0;
  char* bytes = static_cast<char*>(buffer);
  while (*read < toRead) {
    ssize_t n = ::read(descriptor_of_handle(handle), bytes + *read, toRead - *read);
    if (n < 0) {
      if (errno == EINTR) continue;
      return setLastErrorByErrNo(errno);
    }
    if (n == 0) break;
    *read += static_cast<unsigned>(n);
  }
  return kErrorSuccess;
}

unsigned FileSystem::WriteFile(void* handle, const void* data, unsigned toWrite, unsigned* written,
                               _OVERLAPPED* overlapped) {
  reset_last_error();
  if (written == nullptr && overlapped == nullptr) return store_last_error(kErrorInvalidParameter);
  if (is_invalid(handle)) return store_last_error(kErrorInvalidHandle);
  if (written == nullptr) return kErrorSuccess;
  const char* bytes = static_cast<const char*>(data);
  *written = 0;
  while (*written < toWrite) {
    ssize_t n = ::write(descriptor_of_handle(handle), bytes + *written, toWrite - *written);
    if (n < 0 && errno == EINTR) continue;
    // A short write is no failure yet: the next call writes the rest or
    // fails with the reason of its own.
    if (n < 0) return store_last_error(code_of_write_errno(errno), errno);
    if (n == 0) return store_last_error(kErrorCantWrite);  // no progress, no reason
    *written += static_cast<unsigned>(n);
  }
  return kErrorSuccess;
}

uint32_t FileSystem::SetFilePointer(void* handle, long distance, long* distanceHigh,
                                    unsigned moveMethod) {
  reset_last_error();
  if (is_invalid(handle)) {
    store_last_error(kErrorInvalidHandle);
    return 0xFFFFFFFFu;
  }
  int origin = moveMethod == kFileCurrent ? SEEK_CUR : moveMethod == kFileEnd ? SEEK_END : SEEK_SET;
  off_t offset = distance;
  if (distanceHigh != nullptr) {
    offset = static_cast<off_t>(static_cast<uint64_t>(distance) +
                                (static_cast<uint64_t>(*distanceHigh) << 32));
  }
  off_t position = ::lseek(descriptor_of_handle(handle), offset, origin);
  if (position < 0) {
    setLastErrorByErrNo(errno);
    return 0xFFFFFFFFu;
  }
  if (distanceHigh != nullptr) {
    *distanceHigh = static_cast<long>(static_cast<uint64_t>(position) >> 32);
  }
  return static_cast<uint32_t>(static_cast<uint64_t>(position) & 0xFFFFFFFFu);
}

unsigned FileSystem::SetEndOfFile(void* handle) {
  reset_last_error();
  int fd = descriptor_of_handle(handle);
  off_t position = ::lseek(fd, 0, SEEK_CUR);
  if (position < 0 || ::ftruncate(fd, position) != 0) return setLastErrorByErrNo(errno);
  return kErrorSuccess;
}

unsigned FileSystem::CloseHandle(void* handle) {
  if (::close(descriptor_of_handle(handle)) != 0) return setLastErrorByErrNo(errno);
  return kErrorSuccess;
}

unsigned FileSystem::GetFileTime(void* handle, _FILETIME* creation, _FILETIME* lastAccess,
                                 _FILETIME* lastWrite) {
  reset_last_error();
  struct stat info;
  if (is_invalid(handle)) return store_last_error(kErrorInvalidHandle);
  if (::fstat(descriptor_of_handle(handle), &info) != 0) {
    return store_last_error(kErrorInvalidHandle, errno);
  }
  if (creation != nullptr) *creation = EpochToFileTime(static_cast<long>(info.st_ctime));
  if (lastAccess != nullptr) *lastAccess = EpochToFileTime(static_cast<long>(info.st_atime));
  if (lastWrite != nullptr) *lastWrite = EpochToFileTime(static_cast<long>(info.st_mtime));
  return kErrorSuccess;
}

unsigned FileSystem::SetFileTime(void* handle, const _FILETIME* /*creation*/,
                                 const _FILETIME* /*lastAccess*/, const _FILETIME* lastWrite) {
  reset_last_error();
  if (is_invalid(handle)) return store_last_error(kErrorInvalidHandle);
  // Without a time there is nothing to set; the failure is coded from the
  // current errno (87 unless it holds ENOENT), which no call of ours failed
  // with, so there is no system error behind it.
  if (lastWrite == nullptr) return store_last_error(code_of_errno(errno));
  struct timeval times[2];
  times[0].tv_sec = static_cast<time_t>(FileTimeToEpoch(*lastWrite));
  times[0].tv_usec = 0;
  times[1] = times[0];
  if (::futimes(descriptor_of_handle(handle), times) != 0) return setLastErrorByErrNo(errno);
  return kErrorSuccess;
}

unsigned FileSystem::GetFileSize(const wstring& path, unsigned* size) {
  if (size == nullptr) return 1;
  std::string name;
  struct stat info;
  if (!to_system_path(path, name) || ::stat(name.c_str(), &info) != 0) return 1;
  *size = static_cast<unsigned>(static_cast<uint64_t>(info.st_size) & 0xFFFFFFFFu);
  return 0;
}

unsigned FileSystem::GetTempPath(wstring& path) {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string chosen = "/tmp";
  if (tmpdir != nullptr && is_directory(tmpdir)) chosen = tmpdir;
  path = from_system_path(chosen);
  if (!path.empty() && path.back() != kPathSeparatorChar) path += kPathSeparator;
  return kErrorSuccess;
}

unsigned FileSystem::GetTempFileName(const wstring& directory, const wstring& prefix,
                                     wstring& name) {
  name.clear();
  std::string dir;
  std::string stem = "file";
  if (!to_system_path(directory, dir)) return kErrorInvalidName;
  if (!prefix.empty() && !to_system_path(prefix.substr(0, 5), stem)) return kErrorInvalidName;
  dir = without_trailing_slashes(dir);
  if (dir.empty() || !is_directory(dir)) return kErrorCantWrite;
  if (dir != "/") dir += '/';

  // O_EXCL|O_NOFOLLOW: never open a name that exists, nor a planted link.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string candidate = dir + stem + random_suffix();
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      name = from_system_path(candidate);
      return kErrorSuccess;
    }
    if (errno != EEXIST && errno != EINTR) break;
  }
  return kErrorCantWrite;
}

unsigned FileSystem::GetFreeSpaceTmpDir(unsigned* freeBytes) {
  if (freeBytes == nullptr) return kErrorInvalidParameter;
  *freeBytes = 0;
  wstring tempDir;
  if (GetTempPath(tempDir) != kErrorSuccess) return kErrorInvalidName;
  std::string tempName;
  if (!to_system_path(tempDir, tempName)) return kErrorInvalidName;
  struct statvfs info;
  if (::statvfs(tempName.c_str(), &info) == 0) {
    uint64_t fragment = info.f_frsize;
    uint64_t blocks = info.f_bfree;
    const uint64_t kMax = 0xFFFFFFFFu;
    // Saturate without overflowing the product itself.
    bool huge = fragment != 0 && blocks > kMax / fragment;
    *freeBytes = huge ? 0xFFFFFFFFu : static_cast<unsigned>(std::min(fragment * blocks, kMax));
  }
  return kErrorSuccess;
}

unsigned FileSystem::CreateDirectory(const wstring& path) {
  std::string target;
  if (!to_system_path(path, target)) return kErrorInvalidName;
  if (is_directory(target)) return kErrorAlreadyExists;
  if (target.empty()) return kErrorFileNotFound;

  // Each missing level in turn, as mkdir -p does; a level that appears
  // meanwhile (another thread, another process) is fine if it is a directory.
  std::vector<std::string> made;  // the levels this call created, outermost first
  unsigned result = kErrorSuccess;
  size_t position = 0;
  while (position < target.size() && result == kErrorSuccess) {
    size_t slash = target.find('/', position);
    if (slash == std::string::npos) slash = target.size();
    if (slash > position) {  // skip the empty components of "//" and of a leading "/"
      std::string level = target.substr(0, slash);
      bool last = target.find_first_not_of('/', slash) == std::string::npos;
      if (::mkdir(level.c_str(), 0777) == 0) {
        made.push_back(level);
        // A parent must let its owner go on below it whatever the umask
        // took away (mkdir -p adds u+wx too); the last level keeps the umask.
        if (!last && make_searchable(level) != 0) result = kErrorFileNotFound;
      } else if (errno != EEXIST || !is_directory(level)) {
        result = kErrorFileNotFound;
      } else if (last) {
        // The directory itself appeared between our check and mkdir: it is
        // not ours, so it must not be reported as created now.
        return kErrorAlreadyExists;
      }
    }
    position = slash + 1;
  }
  if (result != kErrorSuccess) {
    // Nobody is told of the levels a failed call made, so nobody would ever
    // remove them: they go now, innermost first (rmdir only takes them while
    // they are empty, so nothing put there meanwhile is lost).
    const int err = errno;
    for (auto level = made.rbegin(); level != made.rend(); ++level) ::rmdir(level->c_str());
    errno = err;
  }
  return result;
}

unsigned FileSystem::RemoveDirectory(const wstring& path) {
  std::string target;
  if (!to_system_path(path, target)) return kErrorInvalidName;
  target = without_trailing_slashes(target);
  if (target.empty()) return kErrorSuccess;
  // As rm refuses to: the root, and a last component of "." or "..".
  std::string last = base_name(target);
  if (target == "/" || last == "." || last == "..") return kErrorSuccess;

  // The walk starts from the parent, so that a link given as `path` is
  // removed as itself. O_PATH: searching the parent is all it takes.
  const size_t slash = target.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const int parentFd = ::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (parentFd < 0) {
    return errno == ENOENT || errno == ENOTDIR ? kErrorSuccess : kErrorDirNotEmpty;
  }
  const int err = remove_tree_at(parentFd, last);
  ::close(parentFd);
  errno = err;
  return err == 0 ? kErrorSuccess : kErrorDirNotEmpty;
}

unsigned FileSystem::MoveFile(const wstring& existingPath, const wstring& newPath) {
  std::string source;
  std::string destination;
  if (!to_system_path(existingPath, source) || !to_system_path(newPath, destination)) {
    return kErrorInvalidName;
  }
  struct stat sourceInfo;
  if (::lstat(source.c_str(), &sourceInfo) != 0) return kErrorFileNotFound;

  // mv moves into an existing directory (a link to one included).
  std::string target = destination;
  if (is_directory(destination)) {
    target = without_trailing_slashes(destination);
    if (target != "/") target += '/';
    target += base_name(source);
  }
  struct stat targetInfo;
  if (::lstat(target.c_str(), &targetInfo) == 0 && targetInfo.st_dev == sourceInfo.st_dev &&
      targetInfo.st_ino == sourceInfo.st_ino) {
    errno = EINVAL;
    return kErrorFileNotFound;  // mv refuses to move a file onto itself
  }

  if (::rename(source.c_str(), target.c_str()) == 0) return kErrorSuccess;
  if (errno != EXDEV) return kErrorFileNotFound;
  // Another file system: copied in the process, then put in place whole,
  // and the source removed last.
  if (move_across_file_systems(source, target) != 0) return kErrorFileNotFound;
  return kErrorSuccess;
}

unsigned FileSystem::DeleteFile(const wstring& path) {
  std::string name;
  if (!to_system_path(path, name)) return kErrorInvalidName;
  ::unlink(name.c_str());
  return kErrorSuccess;
}

unsigned FileSystem::GetLastError() {
  return static_cast<unsigned>(ms_lastError.load(std::memory_order_relaxed));
}

int FileSystem::GetLastSystemError() { return ms_lastSystemError.load(std::memory_order_relaxed); }
