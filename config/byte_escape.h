// Bytes of a configuration file that the locale cannot decode (a UTF-8 file
// read in the C locale, a Latin-1 file in a UTF-8 locale, a stray zero byte)
// or that encode a character beyond 16 bits (which one unit cannot hold)
// are carried through memory as the lone surrogates U+DC00 + byte. No valid
// text decodes to a lone surrogate, so the writer can turn them back into
// the same bytes and a rewrite leaves the user's other settings intact.
// Pure functions; any thread.
#ifndef QXR8_CONFIG_BYTE_ESCAPE_H_
#define QXR8_CONFIG_BYTE_ESCAPE_H_

#include <string>

#include "platform/wstring.h"

inline constexpr char16_t kEscapedByteFirst = 0xDC00;
inline constexpr char16_t kEscapedByteLast = 0xDCFF;

// The unit that stands for the undecodable byte `b`.
inline char16_t escape_byte(unsigned char b) {
  return static_cast<char16_t>(kEscapedByteFirst + b);
}

// narrow_lib, except that every escaped byte becomes its original byte.
std::string narrow_keeping_bytes(const wstring& text);

#endif  // QXR8_CONFIG_BYTE_ESCAPE_H_
