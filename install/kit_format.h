// The encoding of the unpacked kit: records, strings and entry names.
// Pure functions over memory; any thread.
#ifndef QXR8_INSTALL_KIT_FORMAT_H_
#define QXR8_INSTALL_KIT_FORMAT_H_

#include <cstddef>
#include <cstdint>

#include "platform/wstring.h"

namespace config {

// Smallest possible records: a language record holds its size and four
// string counts, a file record its size, the name's count and four values.
inline constexpr uint32_t kMinLanguageRecordSize = 4 + 4 * 4;
inline constexpr uint32_t kMinFileRecordSize = 4 + 4 + 4 * 4;

// Reads little-endian values and strings from one record's bytes, never
// past their end. Does not own the bytes.
class KitRecordReader {
 public:
  KitRecordReader(const uint8_t* data, size_t size) : m_data(data), m_size(size), m_pos(0) {}

  // Each returns false, leaving `value` unspecified, when the field would
  // run past the end of the record; the position then stays where it was.
  bool readU32(uint32_t& value);
  // A 32-bit count of UTF-16LE units followed by the units.
  bool readString(wstring& value);

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos;
};

// Little-endian 32-bit value at `data`.
uint32_t load_u32_le(const uint8_t* data);

// `count` UTF-16LE units at `data` as a wstring.
wstring load_utf16_le(const uint8_t* data, size_t count);

// True when `name`, with every backslash read as a slash, is a relative path
// that stays below the directory it is installed into: not empty, not
// starting with "/", no ".." component, no U+0000 unit, and naming a file
// (its last component is neither empty nor ".").
bool kit_name_is_safe(const wstring& name);

}  // namespace config

#endif  // QXR8_INSTALL_KIT_FORMAT_H_
