#include "install/kit_trailer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace config {

std::string encode_kit_trailer(const KitTrailer& trailer) {
  std::string out(kKitTrailerMagic, sizeof kKitTrailerMagic);
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<char>(trailer.crc >> shift));
  }
  for (int shift = 0; shift < 64; shift += 8) {
    out.push_back(static_cast<char>(trailer.length >> shift));
  }
  return out;
}

bool find_kit_trailer(const uint8_t* tail, size_t size, KitTrailer& trailer) {
  if (size < kKitTrailerSize) return false;
  const uint8_t* start = tail + size - kKitTrailerSize;
  if (std::memcmp(start, kKitTrailerMagic, sizeof kKitTrailerMagic) != 0) return false;
  uint32_t crc = 0;
  for (int i = 3; i >= 0; --i) crc = crc << 8 | start[8 + i];
  uint64_t length = 0;
  for (int i = 7; i >= 0; --i) length = length << 8 | start[12 + i];
  trailer.crc = crc;
  trailer.length = length;
  return true;
}

int kit_file_has_trailer(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat status;
  int answer = -1;
  if (fstat(fd, &status) == 0) {
    if (!S_ISREG(status.st_mode)) {
      errno = EINVAL;
    } else if (status.st_size < static_cast<off_t>(kKitTrailerSize)) {
      answer = 0;
    } else {
      uint8_t tail[kKitTrailerSize];
      const ssize_t got =
          pread(fd, tail, sizeof tail, status.st_size - static_cast<off_t>(kKitTrailerSize));
      if (got == static_cast<ssize_t>(sizeof tail)) {
        KitTrailer ignored;
        answer = find_kit_trailer(tail, sizeof tail, ignored) ? 1 : 0;
      } else if (got >= 0) {
        errno = EIO;
      }
    }
  }
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return answer;
}

}  // namespace config
