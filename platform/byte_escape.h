// Lossless conversion between 16-bit text and the bytes of the conversion
// encoding (the locale's; UTF-8 for the C/POSIX locale, see
// conversion_is_utf8). File names and the launcher's configuration both go
// through it, so that a name read from the disk or from a launcher file is
// written back as the very same bytes.
//
// A character decodes to its unit, or to a surrogate pair above U+FFFF. A
// byte 0x80-0xFF that does not decode (a Latin-1 byte under UTF-8) is
// carried as the lone surrogate U+DC80-U+DCFF (U+DC00 + byte), and a zero
// byte inside a configuration file as U+DC00; no character decodes to a
// lone surrogate, so the encoder can turn it back into that byte. Other
// ASCII bytes always decode as themselves; U+DC01-U+DC7F stand for nothing
// and, like every other lone surrogate, have no encoding.
//
// Pure functions of the current locale; any thread once the locale is
// selected (the first conversion of the process selects it).
#ifndef QXR8_PLATFORM_BYTE_ESCAPE_H_
#define QXR8_PLATFORM_BYTE_ESCAPE_H_

#include <cstddef>
#include <string>

#include "platform/wstring.h"

inline constexpr char16_t kEscapedByteFirst = 0xDC00;
inline constexpr char16_t kEscapedByteLast = 0xDCFF;

// The unit that stands for the undecodable byte `b`.
inline char16_t escape_byte(unsigned char b) {
  return static_cast<char16_t>(kEscapedByteFirst + b);
}

inline bool is_escaped_byte(char16_t unit) {
  return unit == kEscapedByteFirst || (unit >= 0xDC80 && unit <= kEscapedByteLast);
}

// Decodes the characters at the front of `bytes` (`length` of them, zero
// bytes included) and appends them to `out`. An incomplete sequence at the
// end is kept back unless `atEnd` (then its bytes are escaped). Returns the
// number of bytes consumed.
size_t decode_keeping_bytes(const char* bytes, size_t length, bool atEnd, wstring& out);

// The whole of `bytes` decoded as above.
wstring decode_keeping_bytes(const std::string& bytes);

// Appends the bytes of the character at text[i] (one unit, or a surrogate
// pair; an escaped byte gives that byte) and returns the number of units it
// took, or 0 when the character has no encoding here (a lone surrogate that
// stands for no byte, a character the locale's encoding lacks); then `out` is
// unchanged.
size_t encode_character(const wstring& text, size_t i, std::string& out);

// Encodes all of `text` (zero units included). Returns true when every
// character was encoded; otherwise false with `out` holding the bytes of
// the characters before the first one that has no encoding, and
// `*failedAt` (if given) its index.
bool encode_keeping_bytes(const wstring& text, std::string& out, size_t* failedAt = nullptr);

// encode_keeping_bytes for text that is only stored or shown (a launcher
// file's keys and values): a character without an encoding becomes "?".
std::string narrow_keeping_bytes(const wstring& text);

#endif  // QXR8_PLATFORM_BYTE_ESCAPE_H_
