#include "install/kit_format.h"

namespace config {

uint32_t load_u32_le(const uint8_t* data) {
  return static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
         static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
}

wstring load_utf16_le(const uint8_t* data, size_t count) {
  wstring text(count, u'\0');
  for (size_t i = 0; i < count; ++i) {
    text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  }
  return text;
}

bool KitRecordReader::readU32(uint32_t& value) {
  if (m_size - m_pos < 4) return false;
  value = load_u32_le(m_data + m_pos);
  m_pos += 4;
  return true;
}

bool KitRecordReader::readString(wstring& value) {
  uint32_t count = 0;
  if (m_size - m_pos < 4) return false;
  count = load_u32_le(m_data + m_pos);
  // 64-bit product: a count near 0xFFFFFFFF must not wrap into a small size.
  if (static_cast<uint64_t>(count) * 2 > m_size - m_pos - 4) return false;
  value = load_utf16_le(m_data + m_pos + 4, count);
  m_pos += 4 + static_cast<size_t>(count) * 2;
  return true;
}

bool kit_name_is_safe(const wstring& name) {
  if (name.empty()) return false;
  const auto isSeparator = [](char16_t unit) {
    return unit == kPathSeparatorChar || unit == kBadPathSeparatorChar;
  };
  if (isSeparator(name.front())) return false;
  size_t start = 0;
  while (true) {
    size_t end = start;
    while (end < name.size() && !isSeparator(name[end])) {
      if (name[end] == u'\0') return false;
      ++end;
    }
    const wstring component = name.substr(start, end - start);
    if (component == u"..") return false;
    if (end == name.size()) {
      // The last component must name a file, not the directory above it.
      return !component.empty() && component != u".";
    }
    start = end + 1;
  }
}

}  // namespace config
