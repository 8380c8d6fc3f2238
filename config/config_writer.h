// Writing launcher configuration files.
#ifndef QXR8_CONFIG_CONFIG_WRITER_H_
#define QXR8_CONFIG_CONFIG_WRITER_H_

#include "config/config_file.h"
#include "platform/wstring.h"

// Replaces the file at `path` by the text form of `config`: one line
// "key=value" + line feed per value, in the locale's multibyte encoding, no
// byte-order mark. The text goes to a new file beside the old one, which is
// then renamed over it, so a failure at any point leaves the old file whole.
// An existing file keeps its permission bits; when `path` is a symbolic link
// the file it points to is replaced and the link stays.
// Throws int 1 when the new file cannot be created or the existing file may
// not be written (its mode denies it), int 2 when writing or replacing fails. Any thread; concurrent writers of one path: last wins.
void write_config_file(const wstring& path, const ConfigFile& config);

#endif  // QXR8_CONFIG_CONFIG_WRITER_H_
