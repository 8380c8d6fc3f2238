#include "install/atomic_placement.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "install/install_codes.h"
#include "platform/file_system.h"

namespace {

// ".r8" and twelve characters of [a-z0-9]: hidden, and unlikely to be
// taken; exclusive creation settles the rest.
std::string temporary_name() {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[12];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    for (size_t i = 0; i < sizeof bytes; ++i) {
      bytes[i] = static_cast<unsigned char>((getpid() * 131 + i * 17 + time(nullptr)) & 0xFF);
    }
  }
  std::string name = ".r8";
  for (unsigned char b : bytes) name.push_back(kAlphabet[b % 36]);
  return name;
}

// Copies `size` bytes from `in` at `offset` to the start of `out`. The
// kernel copies on its own where it can; the buffer is the last resort.
// 0 or errno (EIO-like -1 when the source ends early, reported as ENODATA).
int copy_bytes(int in, uint64_t offset, uint64_t size, int out, void* buffer, size_t bufferSize) {
  loff_t inOffset = static_cast<loff_t>(offset);
  uint64_t remaining = size;
  bool kernelCopy = true;
  bool sendFile = true;
  while (remaining > 0) {
    const size_t chunk = remaining > (1u << 30) ? (1u << 30) : static_cast<size_t>(remaining);
    ssize_t n = -1;
    if (kernelCopy) {
      n = ::copy_file_range(in, &inOffset, out, nullptr, chunk, 0);
      if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                    errno == EOPNOTSUPP || errno == EPERM)) {
        kernelCopy = false;
        continue;
      }
    } else if (sendFile) {
      off_t sendOffset = static_cast<off_t>(inOffset);
      n = ::sendfile(out, in, &sendOffset, chunk);
      if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
        sendFile = false;
        continue;
      }
      if (n > 0) inOffset = static_cast<loff_t>(sendOffset);
    } else {
      const size_t piece = chunk < bufferSize ? chunk : bufferSize;
      n = ::pread(in, buffer, piece, static_cast<off_t>(inOffset));
      if (n > 0) {
        ssize_t done = 0;
        while (done < n) {
          const ssize_t w = ::write(out, static_cast<char*>(buffer) + done,
                                    static_cast<size_t>(n - done));
          if (w < 0) {
            if (errno == EINTR) continue;
            return errno;
          }
          done += w;
        }
        inOffset += n;
      }
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENODATA;  // the source ends before the entry does
    remaining -= static_cast<uint64_t>(n);
  }
  return 0;
}

}  // namespace

unsigned placement_code_of_errno(int err) {
  if (err == ENOSPC || err == EDQUOT) return kErrorDiskFull;
  if (err == EFBIG) return kErrorFileTooLarge;
  if (err == ENODATA) return kErrorInvalidData;
  if (err == EACCES || err == EPERM || err == EROFS) return kErrorAccessDenied;
  return setLastErrorByErrNo(err);
}

PlacementResult place_file(int dirFd, const std::string& name, const PlacementSource& source,
                           void* buffer, size_t bufferSize,
                           const std::function<unsigned(const std::string&)>& beforeCreate) {
  PlacementResult result;
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = temporary_name();
    if (beforeCreate) {
      result.code = beforeCreate(temporary);
      if (result.code != kErrorSuccess) return result;
    }
    fd = ::openat(dirFd, temporary.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, source.mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    result.systemError = errno;
    result.code = placement_code_of_errno(result.systemError);
    return result;
  }

  int err = copy_bytes(source.fd, source.offset, source.size, fd, buffer, bufferSize);
  if (err == 0) {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(source.mtime);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    if (::futimens(fd, times) != 0) err = errno;
  }
  struct stat placed;
  if (err == 0 && ::fstat(fd, &placed) != 0) err = errno;
  // A failed close can be the first report of a failed write (quota, NFS).
  if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
  if (err == 0 && ::renameat(dirFd, temporary.c_str(), dirFd, name.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlinkat(dirFd, temporary.c_str(), 0);
    result.systemError = err == ENODATA ? 0 : err;
    result.code = placement_code_of_errno(err);
    return result;
  }
  result.device = placed.st_dev;
  result.inode = placed.st_ino;
  return result;
}
