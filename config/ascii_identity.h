// Whether the locale's multibyte encoding writes every ASCII character as
// its own single byte, and reads each such byte back as that character.
// True for UTF-8, the C locale and the single-byte encodings; then the hot
// loops of the launcher file may pass ASCII text through without the
// system library's conversions, which cost far more per character.
#ifndef QXR8_CONFIG_ASCII_IDENTITY_H_
#define QXR8_CONFIG_ASCII_IDENTITY_H_

// Checked once, on the first call, after selecting the process's locale the
// way the first conversion does. Any thread.
bool locale_keeps_ascii();

#endif  // QXR8_CONFIG_ASCII_IDENTITY_H_
