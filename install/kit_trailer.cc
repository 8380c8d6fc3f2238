#include "install/kit_trailer.h"

#include <fcntl.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "platform/file.h"
#include "platform/system_path.h"
#include "platform/text_encoding.h"

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

namespace {

Status damage(const char* why) {
  Status status = error_status(kErrorInvalidData);
  status.note = widen_lib(why);
  return status;
}

}  // namespace

KitTrailerCheck::KitTrailerCheck(const KitTrailer& trailer)
    : m_trailer(trailer), m_crc(static_cast<uint32_t>(crc32(0L, Z_NULL, 0))) {}

Status KitTrailerCheck::checkValues(uint64_t maxLength) const {
  if (m_trailer.version == 0) return Status();
  if (m_trailer.length > maxLength) return damage("its trailer gives a length no kit can have");
  if (m_trailer.version == 2 && m_trailer.tableEnd > m_trailer.length) {
    return damage("its trailer puts the end of the file table past the end of the kit");
  }
  return Status();
}

uint64_t KitTrailerCheck::pauseAt() const {
  return m_trailer.version == 2 && !m_tableChecked ? m_trailer.tableEnd : UINT64_MAX;
}

void KitTrailerCheck::addUnpacked(const uint8_t* data, size_t size) {
  // Without a trailer nothing is compared: the CRC would cost for nothing.
  if (m_trailer.version != 0) m_crc = static_cast<uint32_t>(crc32(m_crc, data, size));
  m_unpacked += size;
}

Status KitTrailerCheck::checkTable() {
  if (m_trailer.version != 2 || m_tableChecked || m_unpacked != m_trailer.tableEnd) {
    return Status();
  }
  // The running CRC is exactly the table's here, and only here.
  m_tableChecked = true;
  if (m_crc != m_trailer.tableCrc) {
    return damage("its header and file table do not match the checksum of its trailer");
  }
  return Status();
}

Status KitTrailerCheck::checkWhole(bool streamEnded, uint64_t bytesAfterStream) const {
  if (m_trailer.version == 0) {
    if (streamEnded && bytesAfterStream != 0) {
      return damage("bytes that are no trailer follow the end of its deflate stream");
    }
    return Status();
  }
  if (!streamEnded || bytesAfterStream != 0) {
    return damage("its deflate stream does not end where its trailer begins");
  }
  if (m_unpacked != m_trailer.length || (m_trailer.version == 2 && !m_tableChecked)) {
    return damage("it does not unpack to the length its trailer gives");
  }
  if (m_crc != m_trailer.crc) return damage("it does not unpack to the checksum of its trailer");
  return Status();
}

Status KitTrailerCheck::checkTableEnd(uint64_t dataStart) const {
  if (m_trailer.version == 2 && dataStart != m_trailer.tableEnd) {
    return damage("its file table does not end where its trailer says");
  }
  return Status();
}

}  // namespace config
