// Opening a folder below another without ever following a symbolic link
// and without ever leaving it: how undo, recovery and removal reach a name
// of the catalog, which other users may share and change at any moment.
// openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the kernel has
// it; elsewhere one component at a time, each opened with O_NOFOLLOW
// relative to the one above, which refuses the same links. Either way the
// result is a descriptor of a real folder that was, when it was opened,
// below `root` by a path without links.
//
// No shared state; any thread.
#ifndef QXR8_PLATFORM_BENEATH_OPEN_H_
#define QXR8_PLATFORM_BENEATH_OPEN_H_

#include <string>

#include "platform/directory.h"
#include "platform/status.h"

// Opens the folder `relative` (system bytes, "/" between components; ""
// for `root` itself, a new descriptor) below `root`. Fails, touching
// nothing, with: 123 for a component that is empty, "." or "..", or an
// absolute path; ELOOP (87) when a link stands anywhere on the way;
// ENOTDIR (3) when something else than a folder does; ENOENT (2) when a
// level is missing; else the failed call's errno. The Status names the
// path below root's.
Status open_beneath(const Directory& root, const std::string& relative, Directory& out);

// Splits `name` (system bytes, relative) into the folder that holds it and
// its last component; the folder is "" for a name without "/".
void split_relative(const std::string& name, std::string& folder, std::string& leaf);

// For tests: whether the component walk stands in for openat2 even where
// the kernel has it, so that both ways are exercised.
void use_component_walk_for_tests(bool use);

#endif  // QXR8_PLATFORM_BENEATH_OPEN_H_
