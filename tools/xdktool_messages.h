// Texts the kit tool's commands share. Pure functions; any thread.
#ifndef QXR8_TOOLS_XDKTOOL_MESSAGES_H_
#define QXR8_TOOLS_XDKTOOL_MESSAGES_H_

#include <string>

#include "platform/wstring.h"

// Why the kit reader refused a kit, for its open code: "the kit does not
// exist", "the kit is damaged or not a kit", ...
const char* kit_open_reason(unsigned code);

// Text for one field of a tab-separated output line (list, the dry-run
// plan): in the terminal's encoding, with control characters shown as
// "\xNN" so that a name can never break its line or add a field.
std::string tab_field(const wstring& text);

#endif  // QXR8_TOOLS_XDKTOOL_MESSAGES_H_
