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
#include <string>

// True when a link with owner `uid` may be followed by this process.
bool link_owner_trusted(unsigned uid);

struct WalkResult {
  unsigned code = 0;       // 0, 2 missing level, 3 a level is not a directory, 5 untrusted link, other
  int systemError = 0;     // errno behind the code, 0 when none
  std::string failedLevel; // relative path of the level that stopped the walk
};

// Opens directory `relative` (components separated by "/", none of them
// "", "." or "..") below the open directory `rootFd`. An empty `relative`
// is `rootFd` itself (a new descriptor). With `create`, missing levels are
// made (mode 0777 less the umask, plus owner write and search so that the
// next level can be made) and `onCreated` is called with each level's
// relative path right after it was made. Returns the new descriptor (the
// caller closes it) or -1 with `result` filled.
int open_catalog_directory(int rootFd, const std::string& relative, bool create,
                           const std::function<void(const std::string&)>& onCreated,
                           WalkResult& result);

#endif  // QXR8_INSTALL_CATALOG_WALK_H_
