// Paths between wstring and the bytes the system calls take. A path is
// never altered by the conversion: it is converted exactly or refused.
// Any thread once the locale is selected (platform/text_encoding.h).
#ifndef QXR8_PLATFORM_SYSTEM_PATH_H_
#define QXR8_PLATFORM_SYSTEM_PATH_H_

#include <string>

#include "platform/wstring.h"

// Stores in `out` the bytes that name `path` on the system and returns
// true; returns false (with `out` unspecified) when `path` has no exact
// name there: it holds a zero unit, a lone surrogate that stands for no
// byte, a character the locale's encoding lacks, or escaped bytes that
// would read back as another name. Callers fail with ERROR_INVALID_NAME
// (123) and touch nothing then.
bool to_system_path(const wstring& path, std::string& out);

// A name or path from the system as a wstring; never fails and never loses
// a byte: to_system_path gives back exactly `name` (up to a zero byte).
wstring from_system_path(const std::string& name);

#endif  // QXR8_PLATFORM_SYSTEM_PATH_H_
