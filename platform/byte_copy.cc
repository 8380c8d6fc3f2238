#include "platform/byte_copy.h"

#include <sys/sendfile.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace {

constexpr uint64_t kChunk = 1u << 30;               // per call; the kernel may do less
constexpr size_t kOwnBufferSize = 128u * 1024;       // when the caller gave none

bool kernel_cannot_copy(int err) {
  return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EPERM;
}

// Writes all `size` bytes; 0 or errno.
int write_all(int out, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t put = ::write(out, data + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return errno;
    if (put == 0) return EIO;
    done += static_cast<size_t>(put);
  }
  return 0;
}

}  // namespace

int copy_bytes(int in, uint64_t offset, uint64_t size, int out, void* buffer, size_t bufferSize) {
  enum { kCopyRange, kSendFile, kBuffer } how = kCopyRange;
  std::unique_ptr<char[]> own;
  loff_t position = static_cast<loff_t>(offset);
  uint64_t remaining = size;
  while (remaining > 0) {
    const size_t chunk = static_cast<size_t>(remaining < kChunk ? remaining : kChunk);
    ssize_t n = -1;
    if (how == kCopyRange) {
      n = ::copy_file_range(in, &position, out, nullptr, chunk, 0);
      if (n < 0 && kernel_cannot_copy(errno)) {
        how = kSendFile;
        continue;
      }
    } else if (how == kSendFile) {
      off_t sendOffset = static_cast<off_t>(position);
      n = ::sendfile(out, in, &sendOffset, chunk);
      if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
        how = kBuffer;
        continue;
      }
      if (n > 0) position = static_cast<loff_t>(sendOffset);
    } else {
      if (buffer == nullptr || bufferSize == 0) {
        own.reset(new char[kOwnBufferSize]);
        buffer = own.get();
        bufferSize = kOwnBufferSize;
      }
      const size_t piece = chunk < bufferSize ? chunk : bufferSize;
      n = ::pread(in, buffer, piece, static_cast<off_t>(position));
      if (n > 0) {
        const int err = write_all(out, static_cast<const char*>(buffer), static_cast<size_t>(n));
        if (err != 0) return err;
        position += n;
      }
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return size == kCopyToEnd ? 0 : ENODATA;
    if (size != kCopyToEnd) remaining -= static_cast<uint64_t>(n);
  }
  return 0;
}
