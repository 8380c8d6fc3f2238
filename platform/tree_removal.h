// Removing a directory tree of any depth, as rm -rf does, inside the process.
//
// The walk never follows a symbolic link (a link is removed as itself), works
// only through descriptors (openat/unlinkat with O_NOFOLLOW), and holds at
// most three descriptors at any depth: it goes down into one directory at a
// time and comes back up through "..", checked by device and inode against
// the directory it came from, so a tree moved away meanwhile is left alone
// instead of being removed somewhere else.
//
// Any thread may call it; the trees of two concurrent calls must not overlap.
// A crash in the middle leaves part of the tree; nothing outside it is
// touched.
#ifndef QXR8_PLATFORM_TREE_REMOVAL_H_
#define QXR8_PLATFORM_TREE_REMOVAL_H_

#include <string>

// Removes the entry `name` of the open directory `parentFd` with everything
// below it: a file or a link is unlinked, a directory emptied and removed.
// Entries that cannot be removed are left in place and the walk goes on with
// the others. Returns 0 when nothing is left (a missing entry included),
// else the errno of the first failure. The caller keeps `parentFd`.
int remove_tree_at(int parentFd, const std::string& name);

#endif  // QXR8_PLATFORM_TREE_REMOVAL_H_
