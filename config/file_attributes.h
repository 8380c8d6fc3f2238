// Whether a replacement file can carry everything the user set on the file
// it replaces: owner, group, permission bits, extended attributes and with
// them the access control lists (kept in the "system.posix_acl_access"
// attribute). Only then may a rewrite rename a new file over the old one;
// otherwise it must write into the old file itself.
#ifndef QXR8_CONFIG_FILE_ATTRIBUTES_H_
#define QXR8_CONFIG_FILE_ATTRIBUTES_H_

#include <sys/stat.h>

#include <string>

// Gives the open file `fd` the owner, group and mode of `original` (whose
// stat is `st`) and exactly its extended attributes, removing any the new
// file was born with (an inherited default ACL, say). True when all of it
// could be done and `fd` now matches; false when any part is refused (the
// user may not give a file away, the file system has no extended
// attributes, a security attribute may not be set), and then `fd` is left
// half-done, to be discarded. Any thread.
bool copy_file_attributes(const std::string& original, const struct stat& st, int fd);

#endif  // QXR8_CONFIG_FILE_ATTRIBUTES_H_
