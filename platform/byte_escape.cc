#include "platform/byte_escape.h"

#include <climits>
#include <cwchar>

#include "platform/text_encoding.h"
#include "platform/utf8.h"

namespace {

bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// One character of the locale's own encoding at the front of `bytes`: its
// length, 0 when it does not decode, kUtf8Incomplete when cut off.
int locale_character(const char* bytes, size_t length, char32_t& codePoint) {
  std::mbstate_t state{};
  wchar_t wide = 0;
  const size_t r = std::mbrtowc(&wide, bytes, length, &state);
  if (r == static_cast<size_t>(-2)) return kUtf8Incomplete;
  if (r == static_cast<size_t>(-1) || r == 0) return 0;
  const char32_t c = static_cast<char32_t>(wide);
  if (c > 0x10FFFF || is_surrogate(c)) return 0;
  codePoint = c;
  return static_cast<int>(r);
}

bool encode_code_point(char32_t codePoint, bool utf8, std::string& out) {
  if (utf8) {
    append_utf8(codePoint, out);
    return true;
  }
  char bytes[MB_LEN_MAX];
  std::mbstate_t state{};
  const size_t r = std::wcrtomb(bytes, static_cast<wchar_t>(codePoint), &state);
  if (r == static_cast<size_t>(-1)) return false;
  out.append(bytes, r);
  return true;
}

size_t encode_character_in(const wstring& text, size_t i, bool utf8, std::string& out) {
  const char32_t pair = surrogate_pair_at(text, i);
  if (pair != 0) return encode_code_point(pair, utf8, out) ? 2 : 0;
  const char16_t unit = text[i];
  if (is_escaped_byte(unit)) {
    out.push_back(static_cast<char>(unit - kEscapedByteFirst));
    return 1;
  }
  if (is_surrogate(unit)) return 0;
  return encode_code_point(unit, utf8, out) ? 1 : 0;
}

}  // namespace

size_t decode_keeping_bytes(const char* bytes, size_t length, bool atEnd, wstring& out) {
  const bool utf8 = conversion_is_utf8();
  size_t position = 0;
  while (position < length) {
    // At a character's start an ASCII byte is that character in every
    // locale encoding; the system library's decoder costs far more.
    const unsigned char lead = static_cast<unsigned char>(bytes[position]);
    if (lead != 0 && lead < 0x80) {
      out.push_back(static_cast<char16_t>(lead));
      ++position;
      continue;
    }
    char32_t codePoint = 0;
    const int size = utf8 ? utf8_character(bytes + position, length - position, codePoint)
                          : locale_character(bytes + position, length - position, codePoint);
    if (size == kUtf8Incomplete && !atEnd) break;
    if (size > 0) {
      append_code_point(codePoint, out);
      position += static_cast<size_t>(size);
    } else {
      // One byte only: what follows a bad byte may well be a good character.
      const unsigned char b = static_cast<unsigned char>(bytes[position]);
      out.push_back(b == 0 || b >= 0x80 ? escape_byte(b) : static_cast<char16_t>(b));
      ++position;
    }
  }
  return position;
}

wstring decode_keeping_bytes(const std::string& bytes) {
  wstring out;
  out.reserve(bytes.size());
  decode_keeping_bytes(bytes.data(), bytes.size(), true, out);
  return out;
}

size_t encode_character(const wstring& text, size_t i, std::string& out) {
  return encode_character_in(text, i, conversion_is_utf8(), out);
}

bool encode_keeping_bytes(const wstring& text, std::string& out, size_t* failedAt) {
  const bool utf8 = conversion_is_utf8();
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t used = encode_character_in(text, i, utf8, out);
    if (used == 0) {
      if (failedAt != nullptr) *failedAt = i;
      return false;
    }
    i += used;
  }
  return true;
}

std::string narrow_keeping_bytes(const wstring& text) {
  const bool utf8 = conversion_is_utf8();
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t used = encode_character_in(text, i, utf8, out);
    if (used == 0) {
      out.push_back('?');
      i += 1;
    } else {
      i += used;
    }
  }
  return out;
}
