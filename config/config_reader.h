// Reading launcher configuration files (lines of key=value).
#ifndef QXR8_CONFIG_CONFIG_READER_H_
#define QXR8_CONFIG_CONFIG_READER_H_

#include "config/config_file.h"
#include "platform/wstring.h"

// Adds every key=value line of the file at `path` to `config` (merging into
// what it holds, through addValue). The text is decoded from the locale's
// multibyte encoding as one stream; nothing is trimmed, a carriage return
// stays in its value and a UTF-8 byte-order mark stays in the first key. A
// file that begins with FF FE is UTF-16LE: its mark is dropped and its text
// decoded as if it had been saved in the multibyte form (see utf16_text.h).
// Time and memory grow in proportion to the file's size.
//
// Returns true when the file was read whole, or does not exist (a missing
// file, or a path below something that is not a directory, adds nothing).
// Returns false, and adds nothing, when the file exists but cannot be read
// whole: it cannot be opened (no permission), a read fails, or it is not a
// regular file (a directory, a pipe, a device is never opened). Callers that
// rewrite the file must not do so then. Only std::bad_alloc can escape.
// Any thread, one ConfigFile per thread.
bool read_config_file(const wstring& path, ConfigFile& config);

// True when the file is a regular file that opens, holds at least two bytes
// and does not begin with the UTF-16LE byte-order mark FF FE. Any thread.
bool is_ansi_encoded(const wstring& path);

#endif  // QXR8_CONFIG_CONFIG_READER_H_
