// Rewriting a launcher file in place (when a replacement file could not
// carry everything the user set on it: a second hard link, a shared group,
// attributes that cannot be set), so that no crash, kill or power cut can
// leave it holding part of the new text: the old text is first kept,
// complete and on disk, in a file beside it (".NAME.qxr8old.PID.RANDOM");
// the rewrite is synced; only then is the kept copy removed. The next
// program to read or write the launcher file puts back a kept copy whose
// writer is gone.
//
// Any thread; a file must not be rewritten by two writers at once (the
// registration serialises its writers).
#ifndef QXR8_CONFIG_IN_PLACE_REWRITE_H_
#define QXR8_CONFIG_IN_PLACE_REWRITE_H_

#include <string>

#include "platform/directory.h"
#include "platform/wstring.h"

// Writes `text` into the existing file `name` of `folder` itself, which
// keeps its inode and so its links, owner, group, mode and attributes. The
// whole old content is read first and kept beside the file as described
// above (unless the folder takes no new file: then the rewrite goes on
// without that protection); if writing fails it is put back at once.
// A text not longer than the old one is written padded with empty lines to
// the old length and synced before the file is cut to it, so that a reader
// of the file alone (the launcher) finds the new list at every instant; a
// longer text leaves a mix between write and cut that only the kept copy
// repairs, at the next read by this program.
// Throws int 1 when the file cannot be opened for reading and writing or
// read whole, 2 when writing fails.
void rewrite_in_place(const Directory& folder, const wstring& name, const std::string& text);

// Puts back the old text of an in-place rewrite of the file at `path`
// (links followed) that a writer which no longer runs left unfinished, and
// removes the kept copy. True when no such copy is left; false, with the
// copy that stays in `kept`, when it could not be put back.
bool restore_interrupted_rewrite(const wstring& path, wstring& kept);

#endif  // QXR8_CONFIG_IN_PLACE_REWRITE_H_
