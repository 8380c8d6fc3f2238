#include "config/utf16_text.h"

#include <climits>
#include <cwchar>

namespace {

bool isHighSurrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void appendUtf8(unsigned long cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string utf16le_to_multibyte(const unsigned char* bytes, size_t count) {
  std::string out;
  out.reserve(count);
  char encoded[MB_LEN_MAX];
  size_t i = 0;
  while (i + 1 < count) {
    unsigned long cp = bytes[i] | (static_cast<unsigned>(bytes[i + 1]) << 8);
    i += 2;
    if (isHighSurrogate(cp) && i + 1 < count) {
      const unsigned next = bytes[i] | (static_cast<unsigned>(bytes[i + 1]) << 8);
      if (isLowSurrogate(next)) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (next - 0xDC00);
        i += 2;
      }
    }
    if (isHighSurrogate(cp) || isLowSurrogate(cp)) {
      appendUtf8(cp, out);
      continue;
    }
    // A fresh state per character: the launcher's encodings are stateless,
    // and a shift sequence left open would swallow the following bytes.
    std::mbstate_t state{};
    const size_t n = std::wcrtomb(encoded, static_cast<wchar_t>(cp), &state);
    if (n == static_cast<size_t>(-1)) {
      appendUtf8(cp, out);
    } else {
      out.append(encoded, n);
    }
  }
  if (i < count) out += static_cast<char>(bytes[i]);
  return out;
}
