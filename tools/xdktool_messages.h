// Texts the kit tool's commands share. Pure functions; any thread.
#ifndef QXR8_TOOLS_XDKTOOL_MESSAGES_H_
#define QXR8_TOOLS_XDKTOOL_MESSAGES_H_

// Why the kit reader refused a kit, for its open code: "the kit does not
// exist", "the kit is damaged or not a kit", ...
const char* kit_open_reason(unsigned code);

#endif  // QXR8_TOOLS_XDKTOOL_MESSAGES_H_
