#include "config/byte_escape.h"

#include <algorithm>

#include "platform/text_encoding.h"

namespace {

bool isEscaped(char16_t unit) { return unit >= kEscapedByteFirst && unit <= kEscapedByteLast; }

}  // namespace

std::string narrow_keeping_bytes(const wstring& text) {
  if (std::none_of(text.begin(), text.end(), isEscaped)) return narrow_lib(text);
  std::string out;
  size_t runStart = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !isEscaped(text[i])) continue;
    if (i > runStart) out += narrow_lib(text.substr(runStart, i - runStart));
    if (i < text.size()) out += static_cast<char>(text[i] - kEscapedByteFirst);
    runStart = i + 1;
  }
  return out;
}
