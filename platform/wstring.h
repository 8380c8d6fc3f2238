// The text type of every path, key and user-visible text: 16-bit units
// (UTF-16: a character above U+FFFF is a surrogate pair). A name read from
// the system may also hold lone surrogates U+DC80-U+DCFF that carry bytes
// which do not decode (platform/byte_escape.h).
#ifndef QXR8_PLATFORM_WSTRING_H_
#define QXR8_PLATFORM_WSTRING_H_

#include <string>

using wchar16 = char16_t;
using wstring = std::u16string;

// The separator used in every path, and the wrong one that is replaced by it
// wherever a path comes from the kit, the user or a configuration file.
inline constexpr char16_t kPathSeparator[] = u"/";
inline constexpr char16_t kBadPathSeparator[] = u"\\";
inline constexpr char16_t kPathSeparatorChar = u'/';
inline constexpr char16_t kBadPathSeparatorChar = u'\\';

#endif  // QXR8_PLATFORM_WSTRING_H_
