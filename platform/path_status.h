// What stands at a path, asked without opening it, and the entries of a
// directory as its listing gives them (Directory::list). No shared state;
// any thread.
#ifndef QXR8_PLATFORM_PATH_STATUS_H_
#define QXR8_PLATFORM_PATH_STATUS_H_

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

#endif  // QXR8_PLATFORM_PATH_STATUS_H_
