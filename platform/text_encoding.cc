#include "platform/text_encoding.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>
#include <mutex>

#include "platform/byte_escape.h"

namespace {

// setlocale is process-wide and not thread-safe; doing it once, on the first
// conversion (start-up, main thread), keeps later concurrent conversions from
// racing with it.
void ensure_locale() {
  static std::once_flag once;
  std::call_once(once, [] { std::setlocale(LC_ALL, ""); });
}

// The units of `source` up to `length` (or up to the 0 unit when `length`
// is negative), stopping at a 0 unit.
wstring units_of(const char16_t* source, int length) {
  wstring text;
  if (source == nullptr) return text;
  for (int i = 0; length < 0 || i < length; ++i) {
    if (source[i] == 0) break;
    text.push_back(source[i]);
  }
  return text;
}

}  // namespace

bool conversion_is_utf8() {
  ensure_locale();
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr) return true;
  return std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "ANSI_X3.4-1968") == 0 ||
         std::strcmp(codeset, "ASCII") == 0 || std::strcmp(codeset, "US-ASCII") == 0 ||
         std::strcmp(codeset, "utf8") == 0;
}

int WideCharToMultiByte(unsigned /*codePage*/, unsigned /*flags*/, const char16_t* source,
                        int sourceLength, char* destination, int destinationSize,
                        const char* /*defaultChar*/, int* /*usedDefault*/) {
  const wstring text = units_of(source, sourceLength);
  std::string encoded;
  size_t failedAt = 0;
  const bool whole = encode_keeping_bytes(text, encoded, &failedAt);
  const int result = whole ? static_cast<int>(encoded.size()) : -1;

  if (result != 0 && destination != nullptr && destinationSize > 0) {
    std::memset(destination, 0, static_cast<size_t>(destinationSize));
    // Whole characters only: stop before the first that would not fit.
    size_t stored = 0;
    std::string one;
    for (size_t i = 0; i < text.size();) {
      one.clear();
      const size_t used = encode_character(text, i, one);
      if (used == 0 || stored + one.size() > static_cast<size_t>(destinationSize)) break;
      std::memcpy(destination + stored, one.data(), one.size());
      stored += one.size();
      i += used;
    }
  }
  return result;
}

int MultiByteToWideChar(unsigned /*codePage*/, unsigned /*flags*/, const char* source,
                        int /*sourceLength*/, char16_t* destination, int destinationLength) {
  if (source == nullptr) return 0;
  const wstring text = decode_keeping_bytes(std::string(source));
  for (char16_t unit : text) {
    if (is_escaped_byte(unit)) return -1;
  }
  if (destination != nullptr && destinationLength > 0) {
    const size_t count =
        text.size() < static_cast<size_t>(destinationLength) ? text.size()
                                                             : static_cast<size_t>(destinationLength);
    std::memcpy(destination, text.data(), count * sizeof(char16_t));
  }
  return static_cast<int>(text.size());
}

wstring widen_lib(const std::string& text) {
  return decode_keeping_bytes(std::string(text.c_str()));
}

std::string narrow_lib(const wstring& text) {
  wstring units(text.c_str());
  // An escaped zero byte has no place in a C string.
  for (char16_t& unit : units) {
    if (unit == escape_byte(0)) unit = u'?';
  }
  return narrow_keeping_bytes(units);
}

std::string to_printable_terminal_text(const wstring& text) {
  std::string out = to_terminal_text(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}
