#include "platform/utf8.h"

#include "platform/byte_escape.h"

namespace {

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

int utf8_character(const char* bytes, size_t length, char32_t& codePoint) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
  const unsigned char lead = p[0];
  if (lead == 0) return 0;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  int size = 0;
  char32_t value = 0;
  // The smallest value each length may carry, and the range of the second
  // byte that keeps out overlong forms, surrogates and values past U+10FFFF.
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (int i = 1; i < size; ++i) {
    if (static_cast<size_t>(i) >= length) return kUtf8Incomplete;
    const unsigned char b = p[i];
    if (i == 1 ? (b < low || b > high) : !is_continuation(b)) return 0;
    value = (value << 6) | (b & 0x3F);
  }
  codePoint = value;
  return size;
}

void append_utf8(char32_t codePoint, std::string& out) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

void append_code_point(char32_t codePoint, wstring& out) {
  if (codePoint < 0x10000) {
    out.push_back(static_cast<char16_t>(codePoint));
  } else {
    const char32_t offset = codePoint - 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
  }
}

char32_t surrogate_pair_at(const wstring& text, size_t i) {
  if (i + 1 >= text.size()) return 0;
  const char16_t high = text[i];
  const char16_t low = text[i + 1];
  if (high < 0xD800 || high > 0xDBFF || low < 0xDC00 || low > 0xDFFF) return 0;
  return 0x10000 + ((static_cast<char32_t>(high - 0xD800) << 10) | (low - 0xDC00));
}

wstring utf8_to_wide(const std::string& text) {
  wstring out;
  out.reserve(text.size());
  const char* p = text.c_str();
  size_t remaining = text.find('\0');
  if (remaining == std::string::npos) remaining = text.size();
  while (remaining > 0) {
    char32_t codePoint = 0;
    const int size = utf8_character(p, remaining, codePoint);
    if (size > 0) {
      append_code_point(codePoint, out);
      p += size;
      remaining -= static_cast<size_t>(size);
    } else {
      // Only a byte 0x80-0xFF can fail here: the zero byte ends the text.
      out.push_back(escape_byte(static_cast<unsigned char>(*p)));
      ++p;
      --remaining;
    }
  }
  return out;
}

std::string to_ui_text(const wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size() && text[i] != 0; ++i) {
    const char32_t pair = surrogate_pair_at(text, i);
    if (pair != 0) {
      append_utf8(pair, out);
      ++i;
    } else if (text[i] >= 0xD800 && text[i] <= 0xDFFF) {
      append_utf8(0xFFFD, out);
    } else {
      append_utf8(text[i], out);
    }
  }
  return out;
}
