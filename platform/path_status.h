// What stands at a path, asked without opening it, and a directory listing
// that never follows symbolic links. The rollback walks trees with these so
// that a link is always handled as itself, and the installer uses them to
// refuse a destination it must not replace. No shared state; any thread.
#ifndef QXR8_PLATFORM_PATH_STATUS_H_
#define QXR8_PLATFORM_PATH_STATUS_H_

#include <vector>

#include "platform/wstring.h"

enum class PathKind {
  kMissing,       // nothing there (or a parent is missing or not a directory)
  kRegular,       // a regular file
  kDirectory,     // a directory
  kSymlink,       // a symbolic link (only when links are not followed)
  kOther,         // a FIFO, socket or device
  kUnknown,       // the status could not be read (no permission, no exact system name)
};

// The kind of a file of st_mode `mode`.
PathKind kind_of_mode(unsigned mode);

// The kind of `path`. With `followLinks`, a link reports what it points to
// (a dangling link is kMissing); without, a link is kSymlink. Trailing "/"
// are ignored, so "dir/" and "dir" are the same question and a link named
// with a trailing slash is still the link. Never blocks on a FIFO.
PathKind path_kind(const wstring& path, bool followLinks);

// True when `path` is a regular file, a symbolic link to one or a dangling
// link: the only things the installer may back up and replace.
bool is_replaceable_file(const wstring& path);

// The text of the symbolic link at `path`; false when it is no link or
// cannot be read.
bool read_link(const wstring& path, wstring& target);

// The file a write of `path` must replace: `path` itself, or the end of
// its chain of symbolic links (which may not exist yet), relative links
// read from their own folder. False for a loop or an unreadable link.
bool resolve_link_chain(const wstring& path, wstring& target);

// Whether this process may write the file at `path`, by its effective ids
// (the check an open for writing would make).
bool may_write(const wstring& path);

struct DirectoryEntry {
  wstring name;
  bool isDirectory;  // a real directory, never a link to one
};

// The entries of directory `directory` (with or without a trailing "/"),
// "." and ".." left out, in the order the system gives them. Each entry is
// examined without following links. Returns false (and an empty list) when
// the directory cannot be opened or is a link.
bool list_directory(const wstring& directory, std::vector<DirectoryEntry>& entries);

#endif  // QXR8_PLATFORM_PATH_STATUS_H_
