// Making a missing templates catalog, as `mkdir -p` would, but through
// descriptors: the deepest folder of the path that exists is opened by the
// path (links followed, as any path a user gives), and every missing level
// is made below it by name, so that the run knows exactly which folder it
// made and where, and can remove it again, only that one and only when
// empty, if it fails.
//
// No shared state; any thread.
#ifndef QXR8_INSTALL_CATALOG_CREATION_H_
#define QXR8_INSTALL_CATALOG_CREATION_H_

#include "platform/directory.h"
#include "platform/status.h"
#include "platform/wstring.h"

// Makes the folder `path` (absolute or relative) and the missing folders
// above it (mode 0777 less the umask). `made` says whether this call made
// the catalog itself; then `parent` is the path of the folder it was made
// in and `name` its name there. The folders made above it stay. Fails with the
// Status of the level that could not be made (3 below a file, 5 without
// the right, 112 on a full disk) or 123 for a path without an exact system
// name.
Status make_catalog(const wstring& path, bool& made, wstring& parent, SystemName& name);

#endif  // QXR8_INSTALL_CATALOG_CREATION_H_
