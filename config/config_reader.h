// Reading launcher configuration files (lines of key=value).
#ifndef QXR8_CONFIG_CONFIG_READER_H_
#define QXR8_CONFIG_CONFIG_READER_H_

#include "config/config_file.h"
#include "platform/wstring.h"

// Adds every key=value line of the file at `path` to `config` (merging into
// what it holds, through addValue). The text is decoded from the locale's
// multibyte encoding as one stream; nothing is trimmed, a carriage return
// stays in its value and a byte-order mark stays in the first key. A file
// that cannot be opened, or that is not a regular file (a directory, a pipe,
// a device), adds nothing. Only std::bad_alloc can escape.
// Any thread, one ConfigFile per thread.
void read_config_file(const wstring& path, ConfigFile& config);

// True when the file is a regular file that opens, holds at least two bytes
// and does not begin with the UTF-16LE byte-order mark FF FE. Any thread.
bool is_ansi_encoded(const wstring& path);

#endif  // QXR8_CONFIG_CONFIG_READER_H_
