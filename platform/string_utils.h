// Small wstring utilities. No shared state; any thread.
#ifndef QXR8_PLATFORM_STRING_UTILS_H_
#define QXR8_PLATFORM_STRING_UTILS_H_

#include "platform/wstring.h"

// Leading decimal digits as an unsigned value (wrapping on overflow); no sign,
// no blanks: text that does not start with a digit gives 0.
unsigned long string_toul(const wstring& text);

// Digits of `value` in `radix` (2..36, lowercase letters above 9). In radix
// 10 the value is read as signed 32-bit, so string_uito(4294967295, 10) is
// "-1". string_uito is string_ito on the same 32 bits. Another radix gives
// the empty text.
wstring string_uito(unsigned int value, int radix);
wstring string_ito(int value, int radix);

// Replaces every non-overlapping occurrence of `from` in `text` by `to`,
// left to right, never rescanning replacements. Returns the count; an empty
// `from` or `text` changes nothing and returns 0.
long replace_all(wstring& text, const wstring& from, const wstring& to);

#endif  // QXR8_PLATFORM_STRING_UTILS_H_
