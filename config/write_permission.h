// Whether a catalog directory can be written to.
#ifndef QXR8_CONFIG_WRITE_PERMISSION_H_
#define QXR8_CONFIG_WRITE_PERMISSION_H_

#include "platform/wstring.h"

// True when a fresh file (prefix "Qx") can be created in `dir` itself; the
// probe file is deleted again. A missing directory, a path naming a file, or
// a directory that cannot be written gives false, whatever TMPDIR says.
// Any thread; the probe name is unique, so concurrent calls do not collide.
bool isWritePermitted(const wstring& dir);

#endif  // QXR8_CONFIG_WRITE_PERMISSION_H_
