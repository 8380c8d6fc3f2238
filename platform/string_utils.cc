#include "platform/string_utils.h"

#include <cstdint>
#include <vector>

unsigned long string_toul(const wstring& text) {
  uint64_t value = 0;
  for (char16_t unit : text) {
    if (unit < u'0' || unit > u'9') break;
    value = value * 10u + static_cast<uint64_t>(unit - u'0');
  }
  return static_cast<unsigned long>(value);
}

wstring string_ito(int value, int radix) {
  if (radix < 2 || radix > 36) return wstring();
  uint32_t magnitude = static_cast<uint32_t>(value);
  bool negative = false;
  if (radix == 10 && value < 0) {
    negative = true;
    magnitude = 0u - magnitude;  // two's complement; INT_MIN stays 2147483648
  }
  char16_t digits[33];
  int count = 0;
  do {
    uint32_t digit = magnitude % static_cast<uint32_t>(radix);
    digits[count++] = digit < 10 ? static_cast<char16_t>(u'0' + digit)
                                 : static_cast<char16_t>(u'a' + (digit - 10));
    magnitude /= static_cast<uint32_t>(radix);
  } while (magnitude != 0);

  wstring out;
  out.reserve(static_cast<size_t>(count) + 1);
  if (negative) out.push_back(u'-');
  while (count > 0) out.push_back(digits[--count]);
  return out;
}

wstring string_uito(unsigned int value, int radix) {
  return string_ito(static_cast<int>(value), radix);
}

long replace_all(wstring& text, const wstring& from, const wstring& to) {
  if (from.empty() || text.empty()) return 0;

  long count = 0;
  if (from.length() == to.length()) {
    for (size_t p = text.find(from); p != wstring::npos && p < text.length();
         p = text.find(from, p + from.length())) {
      text.replace(p, from.length(), to);
      ++count;
    }
    return count;
  }

  std::vector<size_t> matches;
  for (size_t p = text.find(from); p != wstring::npos; p = text.find(from, p + from.length())) {
    matches.push_back(p);
  }
  if (matches.empty()) return 0;

  wstring out;
  out.reserve(text.length() + to.length() * matches.size());
  size_t copied = 0;
  for (size_t p : matches) {
    out.append(text, copied, p - copied);
    out.append(to);
    copied = p + from.length();
  }
  out.append(text, copied, wstring::npos);
  text.swap(out);
  return static_cast<long>(matches.size());
}
