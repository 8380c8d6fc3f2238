#include "install/kit_trailer.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "platform/file.h"
#include "platform/system_path.h"

namespace config {

namespace {

void append_le(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

uint64_t load_le(const uint8_t* data, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | data[i];
  return value;
}

}  // namespace

size_t KitTrailer::size() const {
  return version == 2 ? kKitTableTrailerSize : version == 1 ? kKitTrailerSize : 0;
}

std::string encode_kit_trailer(const KitTrailer& trailer) {
  if (trailer.version == 0) return std::string();
  std::string out(trailer.version == 2 ? kKitTableTrailerMagic : kKitTrailerMagic, 8);
  append_le(out, trailer.crc, 4);
  append_le(out, trailer.length, 8);
  if (trailer.version == 2) {
    append_le(out, trailer.tableCrc, 4);
    append_le(out, trailer.tableEnd, 8);
  }
  return out;
}

bool find_kit_trailer(const uint8_t* tail, size_t size, KitTrailer& trailer) {
  // The second version is looked for first: its last 20 bytes could look
  // like a first-version trailer only if its length field, which must stay
  // below 4 GiB, spelled the first magic.
  KitTrailer found;
  const uint8_t* start = nullptr;
  if (size >= kKitTableTrailerSize &&
      std::memcmp(tail + size - kKitTableTrailerSize, kKitTableTrailerMagic, 8) == 0) {
    found.version = 2;
    start = tail + size - kKitTableTrailerSize;
    found.tableCrc = static_cast<uint32_t>(load_le(start + 20, 4));
    found.tableEnd = load_le(start + 24, 8);
  } else if (size >= kKitTrailerSize &&
             std::memcmp(tail + size - kKitTrailerSize, kKitTrailerMagic, 8) == 0) {
    found.version = 1;
    start = tail + size - kKitTrailerSize;
  } else {
    return false;
  }
  found.crc = static_cast<uint32_t>(load_le(start + 8, 4));
  found.length = load_le(start + 12, 8);
  trailer = found;
  return true;
}

int kit_file_trailer_version(const std::string& path) {
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
  uint8_t tail[kKitTableTrailerSize];
  const size_t want = info.size < sizeof tail ? static_cast<size_t>(info.size) : sizeof tail;
  size_t got = 0;
  status = kit.readAt(info.size - want, tail, want, got);
  if (!status.ok() || got != want) {
    errno = status.ok() ? EIO : status.systemError;
    return -1;
  }
  KitTrailer found;
  return find_kit_trailer(tail, want, found) ? static_cast<int>(found.version) : 0;
}

}  // namespace config
