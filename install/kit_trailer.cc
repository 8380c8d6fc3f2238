#include "install/kit_trailer.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "platform/file.h"
#include "platform/system_path.h"

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
  File kit;
  FileInfo info;
  Status status = File::open(from_system_path(path), O_RDONLY | O_NONBLOCK, 0, kit);
  if (status.ok()) status = kit.info(info);
  if (!status.ok()) {
    errno = status.systemError;
    return -1;
  }
  if (info.kind != PathKind::kRegular) {
    errno = EINVAL;
    return -1;
  }
  if (info.size < kKitTrailerSize) return 0;
  uint8_t tail[kKitTrailerSize];
  size_t got = 0;
  status = kit.readAt(info.size - kKitTrailerSize, tail, sizeof tail, got);
  if (!status.ok() || got != sizeof tail) {
    errno = status.ok() ? EIO : status.systemError;
    return -1;
  }
  KitTrailer ignored;
  return find_kit_trailer(tail, sizeof tail, ignored) ? 1 : 0;
}

}  // namespace config
