#include "platform/text_encoding.h"

#include <climits>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <vector>

namespace {

// setlocale is process-wide and not thread-safe; doing it once, on the first
// conversion (start-up, main thread), keeps later concurrent conversions from
// racing with it.
void ensure_locale() {
  static std::once_flag once;
  std::call_once(once, [] { std::setlocale(LC_ALL, ""); });
}

// The units of `source` (at most `length`, or up to the 0 unit when `length`
// is negative) zero-extended into a 0-terminated wide array.
std::vector<wchar_t> to_wide_array(const char16_t* source, int length) {
  std::vector<wchar_t> wide;
  if (source == nullptr) {
    wide.push_back(L'\0');
    return wide;
  }
  if (length >= 0) wide.reserve(static_cast<size_t>(length) + 1);
  for (int i = 0; length < 0 || i < length; ++i) {
    if (source[i] == 0) break;
    wide.push_back(static_cast<wchar_t>(source[i]));
  }
  wide.push_back(L'\0');
  return wide;
}

}  // namespace

int WideCharToMultiByte(unsigned /*codePage*/, unsigned /*flags*/, const char16_t* source,
                        int sourceLength, char* destination, int destinationSize,
                        const char* /*defaultChar*/, int* /*usedDefault*/) {
  ensure_locale();
  std::vector<wchar_t> wide = to_wide_array(source, sourceLength);

  const wchar_t* cursor = wide.data();
  std::mbstate_t state{};
  size_t measure = std::wcsrtombs(nullptr, &cursor, 0, &state);
  int result = measure == static_cast<size_t>(-1) ? -1 : static_cast<int>(measure);

  if (result != 0 && destination != nullptr && destinationSize > 0) {
    std::memset(destination, 0, static_cast<size_t>(destinationSize));
    cursor = wide.data();
    state = std::mbstate_t{};
    // Stops before a unit it cannot encode, leaving the prefix converted.
    std::wcsrtombs(destination, &cursor, static_cast<size_t>(destinationSize), &state);
  }
  return result;
}

int MultiByteToWideChar(unsigned /*codePage*/, unsigned /*flags*/, const char* source,
                        int /*sourceLength*/, char16_t* destination, int destinationLength) {
  ensure_locale();
  if (source == nullptr) return 0;

  const char* cursor = source;
  std::mbstate_t state{};
  size_t measure = std::mbsrtowcs(nullptr, &cursor, 0, &state);
  if (measure == static_cast<size_t>(-1)) return -1;
  if (measure == 0) return 0;

  std::vector<wchar_t> wide(measure + 1, L'\0');
  cursor = source;
  state = std::mbstate_t{};
  std::mbsrtowcs(wide.data(), &cursor, measure, &state);
  if (destination != nullptr && destinationLength > 0) {
    size_t count = measure < static_cast<size_t>(destinationLength)
                       ? measure
                       : static_cast<size_t>(destinationLength);
    for (size_t i = 0; i < count; ++i) {
      destination[i] = static_cast<char16_t>(static_cast<unsigned long>(wide[i]) & 0xFFFFu);
    }
  }
  return static_cast<int>(measure);
}

std::string narrow_lib(const wstring& text) {
  std::vector<char> buffer(4 * text.length() + 1, '\0');
  int n = WideCharToMultiByte(0, 0, text.c_str(), static_cast<int>(text.length()), buffer.data(),
                              static_cast<int>(buffer.size()), nullptr, nullptr);
  if (n >= 0) {
    size_t length = static_cast<size_t>(n) < buffer.size() ? static_cast<size_t>(n) : buffer.size();
    return std::string(buffer.data(), length);
  }

  // Some unit has no encoding in this locale: convert unit by unit so that
  // only the bad ones turn into "?".
  std::string out;
  out.reserve(text.length());
  std::mbstate_t state{};
  char bytes[MB_LEN_MAX];
  for (char16_t unit : text) {
    if (unit == 0) break;
    size_t count = std::wcrtomb(bytes, static_cast<wchar_t>(unit), &state);
    if (count == static_cast<size_t>(-1)) {
      out.push_back('?');
      state = std::mbstate_t{};
    } else {
      out.append(bytes, count);
    }
  }
  return out;
}

wstring widen_lib(const std::string& text) {
  std::vector<char16_t> buffer(4 * text.length() + 1, u'\0');
  int n = MultiByteToWideChar(0, 0, text.c_str(), static_cast<int>(text.length()), buffer.data(),
                              static_cast<int>(text.length() + 1));
  if (n >= 0) {
    size_t length = static_cast<size_t>(n) < buffer.size() ? static_cast<size_t>(n) : buffer.size();
    return wstring(buffer.data(), length);
  }

  // An invalid byte sequence: decode what is valid and turn each byte that
  // does not begin a valid character into "?".
  wstring out;
  out.reserve(text.length());
  std::mbstate_t state{};
  const char* cursor = text.c_str();
  size_t remaining = std::strlen(cursor);
  while (remaining > 0) {
    wchar_t wide = 0;
    size_t count = std::mbrtowc(&wide, cursor, remaining, &state);
    if (count == static_cast<size_t>(-1) || count == static_cast<size_t>(-2)) {
      // -2 is a truncated sequence at the very end: its bytes are bad too.
      out.push_back(u'?');
      state = std::mbstate_t{};
      ++cursor;
      --remaining;
    } else if (count == 0) {
      break;
    } else {
      out.push_back(static_cast<char16_t>(static_cast<unsigned long>(wide) & 0xFFFFu));
      cursor += count;
      remaining -= count;
    }
  }
  return out;
}
