#include "install/kit_table.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "install/kit_format.h"
#include "platform/text_encoding.h"

namespace config {

namespace {

// The unpacked kit from its first byte, read ahead through a buffer; every
// read lowers `m_remaining`, the bytes of the kit not yet read.
class TableReader {
 public:
  TableReader(const File& unpacked, uint32_t size, uint8_t* buffer, size_t bufferSize,
              const wstring& kitPath)
      : m_file(unpacked),
        m_remaining(size),
        m_buffer(buffer),
        m_bufferSize(bufferSize),
        m_kitPath(kitPath) {}

  uint32_t remaining() const { return m_remaining; }

  Status damaged(const char* why) const {
    Status status = error_status(kErrorInvalidData, m_kitPath);
    status.note = widen_lib(why);
    return status;
  }

  // Each read below answers 13 when the field does not fit in what is
  // left (nothing is read then), or the failed read's Status.
  Status readExact(void* data, uint32_t count) {
    if (count > m_remaining) return damaged("its header or file table runs past its end");
    uint8_t* out = static_cast<uint8_t*>(data);
    for (uint32_t left = count; left > 0;) {
      if (m_bufferedAt == m_buffered) {
        // Never past what the unpacked kit still holds.
        const size_t want = std::min<size_t>(m_bufferSize, m_remaining - (count - left));
        size_t got = 0;
        const Status status = m_file.readAt(m_position, m_buffer, want, got);
        if (!status.ok()) return status;
        if (got == 0) return damaged("its header or file table runs past its end");
        m_position += got;
        m_bufferedAt = 0;
        m_buffered = got;
      }
      const size_t take = std::min<size_t>(left, m_buffered - m_bufferedAt);
      std::memcpy(out, m_buffer + m_bufferedAt, take);
      out += take;
      m_bufferedAt += take;
      left -= static_cast<uint32_t>(take);
    }
    m_remaining -= count;
    return Status();
  }

  Status readU32(uint32_t& value) {
    uint8_t bytes[4];
    const Status status = readExact(bytes, 4);
    if (status.ok()) value = load_u32_le(bytes);
    return status;
  }

  // A record's size field and the bytes it counts after itself.
  Status readRecord(std::vector<uint8_t>& record) {
    uint32_t recordSize = 0;
    const Status status = readU32(recordSize);
    if (!status.ok()) return status;
    if (recordSize < 4 || recordSize - 4 > m_remaining) {
      return damaged("a record's size does not fit in the kit");
    }
    record.resize(recordSize - 4);
    return readExact(record.data(), recordSize - 4);
  }

 private:
  const File& m_file;
  uint32_t m_remaining;
  uint8_t* m_buffer;
  size_t m_bufferSize;
  const wstring& m_kitPath;
  uint64_t m_position = 0;  // of the next read ahead
  size_t m_bufferedAt = 0;
  size_t m_buffered = 0;
};

Status read_single_header(TableReader& in, std::vector<KitProductInfo>& products) {
  wstring fields[3];
  std::vector<uint8_t> units;
  for (wstring& field : fields) {
    uint32_t count = 0;
    Status status = in.readU32(count);
    if (!status.ok()) return status;
    if (static_cast<uint64_t>(count) * 2 > in.remaining()) {
      return in.damaged("a product string runs past the end of the kit");
    }
    units.resize(static_cast<size_t>(count) * 2);
    status = in.readExact(units.data(), count * 2);
    if (!status.ok()) return status;
    field = load_utf16_le(units.data(), count);
  }
  products.push_back(KitProductInfo{u"en", fields[0], fields[1], fields[2]});
  return Status();
}

Status read_multi_header(TableReader& in, std::vector<KitProductInfo>& products) {
  uint32_t count = 0;
  Status status = in.readU32(count);
  if (!status.ok()) return status;
  if (count > in.remaining() / kMinLanguageRecordSize) {
    return in.damaged("it counts more product records than it can hold");
  }
  std::vector<uint8_t> record;
  for (uint32_t i = 0; i < count; ++i) {
    status = in.readRecord(record);
    if (!status.ok()) return status;
    KitRecordReader fields(record.data(), record.size());
    KitProductInfo info;
    if (!fields.readString(info.language) || !fields.readString(info.product) ||
        !fields.readString(info.vendor) || !fields.readString(info.description)) {
      return in.damaged("a product record runs past its size");
    }
    products.push_back(std::move(info));
  }
  return Status();
}

Status read_file_table(TableReader& in, std::vector<KitEntry>& entries) {
  entries.clear();
  uint32_t count = 0;
  Status status = in.readU32(count);
  if (!status.ok()) return status;
  if (count > in.remaining() / kMinFileRecordSize) {
    return in.damaged("it counts more files than it can hold");
  }
  entries.reserve(count);
  std::vector<uint8_t> record;
  for (uint32_t i = 0; i < count; ++i) {
    status = in.readRecord(record);
    if (!status.ok()) return status;
    KitRecordReader fields(record.data(), record.size());
    KitEntry entry;
    if (!fields.readString(entry.name) || !fields.readU32(entry.lastWriteTime.dwLowDateTime) ||
        !fields.readU32(entry.lastWriteTime.dwHighDateTime) || !fields.readU32(entry.offset) ||
        !fields.readU32(entry.size)) {
      return in.damaged("a file record runs past its size");
    }
    if (!kit_name_is_safe(entry.name)) return in.damaged("a file's name would leave the catalog");
    entries.push_back(std::move(entry));
  }
  return Status();
}

}  // namespace

Status read_kit_table(const File& unpacked, uint32_t size, uint8_t* buffer, size_t bufferSize,
                      const wstring& kitPath, std::vector<KitProductInfo>& products,
                      std::vector<KitEntry>& entries, uint32_t& dataStart) {
  TableReader in(unpacked, size, buffer, bufferSize, kitPath);
  uint32_t headerFlag = 0;
  Status status = in.readU32(headerFlag);
  if (status.ok()) {
    status = headerFlag == 0 ? read_single_header(in, products) : read_multi_header(in, products);
  }
  if (status.ok()) status = read_file_table(in, entries);
  if (status.ok()) dataStart = size - in.remaining();
  return status;
}

}  // namespace config
