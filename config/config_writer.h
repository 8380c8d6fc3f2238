// Writing launcher configuration files.
#ifndef QXR8_CONFIG_CONFIG_WRITER_H_
#define QXR8_CONFIG_CONFIG_WRITER_H_

#include "config/config_file.h"
#include "platform/wstring.h"

// Replaces the contents of the file at `path` by the text form of `config`:
// one line "key=value" + line feed per value, in the locale's multibyte
// encoding, no byte-order mark (an empty first line when the text would
// otherwise begin with the bytes of the UTF-16 mark). When `path` is a
// symbolic link the file it points to is rewritten and the link stays.
//
// The rewrite goes the way a careful editor's does. When a new file can be
// made in the same folder and given the old file's owner, group, mode and
// extended attributes (ACLs included), and the old file has one link, the
// text goes to that new file, which is then renamed over the old one: a
// reader sees the old file or the new one, never a mix. Otherwise (a folder
// the user may not write, a file shared through its group, a second hard
// link, attributes that cannot be set) the text is written into the old
// file itself after its whole content has been read, and that content is
// put back if the write fails. Either way a failure leaves the old content.
// Temporaries beside the file that killed writers left are removed first;
// this writer's own temporary never outlives a failed call.
//
// A regular file that already holds exactly the new text is not written
// at all (same inode, same time stamps) and the result is false; true when
// the file was written. Its write permission is not asked then: nothing is
// to be written.
//
// Throws int 1 when the file cannot be created, may not be written (its
// mode denies it) or cannot be read back whole for an in-place rewrite;
// int 2 when writing or replacing fails. Any thread; concurrent writers of
// one path: last wins (the registration serialises its own writers).
bool write_config_file(const wstring& path, const ConfigFile& config);

#endif  // QXR8_CONFIG_CONFIG_WRITER_H_
