// Whether a replacement file can carry everything the user set on the file
// it replaces: owner, group, permission bits, extended attributes and with
// them the access control lists (kept in the "system.posix_acl_access"
// attribute). Only then may a rewrite rename a new file over the old one;
// otherwise it must write into the old file itself.
#ifndef QXR8_PLATFORM_ATTRIBUTE_COPY_H_
#define QXR8_PLATFORM_ATTRIBUTE_COPY_H_

#include "platform/file.h"
#include "platform/wstring.h"

// Gives the open file `to` the owner, group and mode of the file at
// `originalPath` (whose status is `original`) and exactly its extended
// attributes, removing any the new file was born with (an inherited
// default ACL, say). True when all of it could be done and `to` now
// matches; false when any part is refused (the user may not give a file
// away, the file system has no extended attributes, a security attribute
// may not be set, the path has no exact system name), and then `to` is
// left half-done, to be discarded. Any thread.
bool copy_file_attributes(const wstring& originalPath, const FileInfo& original, const File& to);

#endif  // QXR8_PLATFORM_ATTRIBUTE_COPY_H_
