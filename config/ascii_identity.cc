#include "config/ascii_identity.h"

#include <climits>
#include <cwchar>

#include "platform/text_encoding.h"

namespace {

bool check() {
  (void)narrow_lib(u"=");  // the process's locale, as every conversion uses
  for (int c = 1; c < 0x80; ++c) {
    char bytes[MB_LEN_MAX];
    std::mbstate_t state{};
    if (std::wcrtomb(bytes, static_cast<wchar_t>(c), &state) != 1 || bytes[0] != c) return false;
    const char in = static_cast<char>(c);
    wchar_t wide = 0;
    state = std::mbstate_t{};
    if (std::mbrtowc(&wide, &in, 1, &state) != 1 || wide != static_cast<wchar_t>(c)) return false;
  }
  return true;
}

}  // namespace

bool locale_keeps_ascii() {
  static const bool keeps = check();
  return keeps;
}
