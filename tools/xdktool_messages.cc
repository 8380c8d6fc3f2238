#include "tools/xdktool_messages.h"

#include <cstdio>

#include "platform/file_system.h"
#include "platform/text_encoding.h"

const char* kit_open_reason(unsigned code) {
  switch (code) {
    case kErrorFileNotFound: return "the kit does not exist";
    case kErrorPathNotFound: return "the kit's directory does not exist";
    case kErrorInvalidData: return "the kit is damaged or not a kit";
    case kErrorInvalidParameter: return "the kit cannot be read";
    case kErrorCantWrite: return "no temporary file can be made";
    case kErrorDiskFull:
    case kErrorFileTooLarge: return "the unpacked kit does not fit in the temporary directory";
    default: return "the kit cannot be opened";
  }
}

std::string tab_field(const wstring& text) {
  std::string out;
  for (unsigned char c : to_terminal_text(text)) {
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}
