// Launcher files saved as UTF-16LE (they begin with the mark FF FE) are
// turned into the multibyte form every other launcher file is read in, so
// one decoder serves both and the file is written back in multibyte form.
// Pure function; any thread once the locale is selected (the first
// conversion of the process selects it).
#ifndef QXR8_CONFIG_UTF16_TEXT_H_
#define QXR8_CONFIG_UTF16_TEXT_H_

#include <cstddef>
#include <string>

// The little-endian UTF-16 text `bytes` (without its mark) as multibyte
// bytes of the locale. A surrogate pair is joined into its character. A
// character the locale cannot encode, and a lone surrogate, become their
// UTF-8 bytes (the lone surrogate in the three-byte pattern), which the
// multibyte reader carries through unchanged; an odd last byte is kept as
// it is. So reading the result and writing it back gives the same bytes.
std::string utf16le_to_multibyte(const unsigned char* bytes, size_t count);

#endif  // QXR8_CONFIG_UTF16_TEXT_H_
