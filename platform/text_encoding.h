// Conversions between wstring (16-bit units) and narrow text in the
// multibyte encoding of the environment's locale (UTF-8 on the desktops).
//
// The locale is selected (setlocale(LC_ALL, "")) by the first conversion of
// the process; that happens on the main thread during start-up, before any
// worker exists. After that every thread may convert concurrently.
#ifndef QXR8_PLATFORM_TEXT_ENCODING_H_
#define QXR8_PLATFORM_TEXT_ENCODING_H_

#include <string>

#include "platform/wstring.h"

// Converts at most `sourceLength` units of `source` (stopping at a 0 unit;
// a negative length reads up to the 0 unit) into `destination`, writing at
// most `destinationSize` bytes, whole characters only, after zero-filling
// it. Returns the number of bytes the whole text needs, even if
// that exceeds destinationSize, or -1 when a unit cannot be encoded (in UTF-8
// a unit in D800-DFFF). Code page, flags, default character and used-default
// flag are accepted and ignored.
int WideCharToMultiByte(unsigned codePage, unsigned flags, const char16_t* source,
                        int sourceLength, char* destination, int destinationSize,
                        const char* defaultChar, int* usedDefault);

// Measures `source` up to its terminating 0 byte (the length argument does
// not limit it) and stores min(count, destinationLength) characters, each
// truncated to 16 bits, into `destination` (not terminated). Returns the
// character count, or -1 for an invalid byte sequence (nothing stored).
int MultiByteToWideChar(unsigned codePage, unsigned flags, const char* source,
                        int sourceLength, char16_t* destination, int destinationLength);

// Whole-string conversions. They never fail: a unit the locale cannot encode,
// or a byte sequence it cannot decode, becomes "?" and the rest is converted.
// Text after an embedded 0 is dropped.
std::string narrow_lib(const wstring& text);
wstring widen_lib(const std::string& text);

#endif  // QXR8_PLATFORM_TEXT_ENCODING_H_
