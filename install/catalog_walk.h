// Opening a directory inside the templates catalog one level at a time,
// so that no symbolic link planted by someone else is followed: a link is
// followed only when it belongs to the installing user or to root (the rule
// the kernel applies in shared sticky directories). Every level is opened
// relative to the one above it, so what is checked is what is used.
//
// No shared state; any thread.
#ifndef QXR8_INSTALL_CATALOG_WALK_H_
#define QXR8_INSTALL_CATALOG_WALK_H_

#include <functional>

#include "platform/directory.h"
#include "platform/status.h"
#include "platform/wstring.h"

// True when a link with owner `uid` may be followed by this process.
bool link_owner_trusted(unsigned uid);

// Opens directory `relative` (components separated by "/", none of them
// "", "." or "..") below `root` into `out`. An empty `relative` is `root`
// itself (a new descriptor). With `create`, missing levels are made (mode
// 0777 less the umask, plus owner write and search so that the next level
// can be made) and `onCreated` is called right after each level was made
// with the folder it was made in, its name there and its path relative to
// `root`, so that the caller can record what it made. Fails with the Status of the level that stopped
// the walk (its full path): 2 a missing level, 3 a level that is not a
// directory, 5 a link of an untrusted owner, 112 no room for a new level,
// else the code of the failed call.
using LevelMade =
    std::function<void(const Directory& parent, const wstring& name, const wstring& relative)>;
Status open_catalog_directory(const Directory& root, const wstring& relative, bool create,
                              const LevelMade& onCreated, Directory& out);

#endif  // QXR8_INSTALL_CATALOG_WALK_H_
