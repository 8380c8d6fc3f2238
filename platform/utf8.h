// UTF-8 and 16-bit text without the locale: the string tables and every text
// handed to GTK are UTF-8 whatever the locale says, and the C locale's
// conversions are UTF-8 too. Pure functions with no shared state: any thread,
// also before main (no setlocale, no locale data).
//
// A character above U+FFFF is a surrogate pair in a wstring. Decoding is
// strict (no overlong forms, no encoded surrogates, nothing above U+10FFFF):
// a byte that does not belong to a valid character is carried as the unit
// escape_byte(byte) (platform/byte_escape.h), never dropped or replaced.
#ifndef QXR8_PLATFORM_UTF8_H_
#define QXR8_PLATFORM_UTF8_H_

#include <cstddef>
#include <string>

#include "platform/wstring.h"

// Result of utf8_character for a valid prefix that needs more bytes.
inline constexpr int kUtf8Incomplete = -1;

// Reads the character at the front of `bytes` (`length` > 0). Returns its
// length (1 to 4) and stores it in `codePoint`; 0 when the first byte does
// not begin a valid character (a zero byte included); kUtf8Incomplete when
// the bytes are a valid beginning that the end of the buffer cuts off.
int utf8_character(const char* bytes, size_t length, char32_t& codePoint);

// Appends `codePoint` (below U+110000, not a surrogate) as UTF-8.
void append_utf8(char32_t codePoint, std::string& out);

// Appends `codePoint` as one unit, or as a surrogate pair above U+FFFF.
void append_code_point(char32_t codePoint, wstring& out);

// The code point of the surrogate pair at text[i], text[i + 1], or 0 when
// there is none there.
char32_t surrogate_pair_at(const wstring& text, size_t i);

// UTF-8 bytes (up to the first zero byte) as 16-bit text; bytes outside
// valid characters become escape units. Used for the built-in string tables
// and for texts coming back from GTK.
wstring utf8_to_wide(const std::string& text);

// Text for GTK, which takes UTF-8 only: surrogate pairs become their
// character; a unit that stands for no character (a lone surrogate, an
// escaped byte of a file name) becomes U+FFFD, as GLib shows an undecodable
// byte. Text after a zero unit is dropped. A file name should rather go
// through the display-name conversion of the GUI layer.
std::string to_ui_text(const wstring& text);

#endif  // QXR8_PLATFORM_UTF8_H_
