// Texts the kit tool's commands share. Pure functions; any thread.
#ifndef QXR8_TOOLS_XDKTOOL_MESSAGES_H_
#define QXR8_TOOLS_XDKTOOL_MESSAGES_H_

#include <string>

#include "platform/file_system.h"
#include "platform/wstring.h"

// Why the kit reader refused a kit, for its open code: "the kit does not
// exist", "the kit is damaged or not a kit", ...
const char* kit_open_reason(unsigned code);

// Text for one field of a tab-separated output line (list, the dry-run
// plan): in the terminal's encoding, with control characters shown as
// "\xNN" so that a name can never break its line or add a field.
std::string tab_field(const wstring& text);

// A file time as an ISO 8601 UTC date-time ("2025-01-01T12:00:00Z"), with
// parts of a second only when the time has them: how list and pack
// --dry-run show a file's time.
std::string format_file_time(const _FILETIME& time);

#endif  // QXR8_TOOLS_XDKTOOL_MESSAGES_H_
