// Conversions between wstring (16-bit units; a character above U+FFFF is a
// surrogate pair) and narrow text in the conversion encoding: the encoding
// of the environment's locale, except that the C/POSIX locale, whose ASCII
// cannot name any file a desktop user makes, counts as UTF-8.
//
// The locale is selected (setlocale(LC_ALL, "")) by the first conversion of
// the process; that happens on the main thread during start-up, before any
// worker exists. After that every thread may convert concurrently.
//
// Which conversion to use:
//   paths to and from the system  to_system_path / from_system_path
//                                 (platform/system_path.h): exact, or refused
//   text handed to GTK            to_ui_text (platform/utf8.h): always UTF-8
//   text for a terminal or a log  to_terminal_text below
#ifndef QXR8_PLATFORM_TEXT_ENCODING_H_
#define QXR8_PLATFORM_TEXT_ENCODING_H_

#include <string>

#include "platform/wstring.h"

// True when conversions use UTF-8: the locale's code set is UTF-8, or it is
// the ASCII of the C/POSIX locale. Selects the locale on first use.
bool conversion_is_utf8();

// Converts at most `sourceLength` units of `source` (stopping at a 0 unit;
// a negative length reads up to the 0 unit) into `destination`, writing at
// most `destinationSize` bytes, whole characters only, after zero-filling
// it. A surrogate pair is one character; an escaped byte
// (platform/byte_escape.h) is that byte. Returns the number of bytes the
// whole text needs, even if that exceeds destinationSize, or -1 when a unit
// cannot be encoded (a lone surrogate standing for no byte, a character the
// locale's encoding lacks); then only the characters before it are stored.
// Code page, flags, default character and used-default flag are accepted
// and ignored.
int WideCharToMultiByte(unsigned codePage, unsigned flags, const char16_t* source,
                        int sourceLength, char* destination, int destinationSize,
                        const char* defaultChar, int* usedDefault);

// Measures `source` up to its terminating 0 byte (the length argument does
// not limit it) in units, a character above U+FFFF counting two (a surrogate
// pair), and stores the first min(count, destinationLength) units into
// `destination` (not terminated). Returns the count, or -1 for a byte
// sequence that does not decode (nothing stored).
int MultiByteToWideChar(unsigned codePage, unsigned flags, const char* source,
                        int sourceLength, char16_t* destination, int destinationLength);

// Narrow text to 16-bit text without losing a byte: a byte that does not
// decode becomes its escape unit. Text after an embedded 0 byte is dropped.
wstring widen_lib(const std::string& text);

// 16-bit text to narrow text: each escaped byte becomes its byte again and
// a unit that has no encoding becomes "?". Text after an embedded 0 unit is
// dropped. Never use it for a path handed to the system (to_system_path
// refuses what this replaces).
std::string narrow_lib(const wstring& text);

// Text for a terminal, in the locale's encoding: narrow_lib. A character the
// locale cannot show is "?" there, on the terminal only.
inline std::string to_terminal_text(const wstring& text) { return narrow_lib(text); }
// The same with every control character shown as "?": a name or path from
// a kit, a catalog or the user cannot move a terminal's cursor.
std::string to_printable_terminal_text(const wstring& text);

#endif  // QXR8_PLATFORM_TEXT_ENCODING_H_
