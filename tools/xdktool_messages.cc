#include "tools/xdktool_messages.h"

#include <cstdio>
#include <cstring>
#include <ctime>

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

std::string format_file_time(const _FILETIME& time) {
  const uint64_t ticks = static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
  const int64_t seconds = static_cast<int64_t>(ticks / 10000000u) - 11644473600LL;
  const unsigned fraction = static_cast<unsigned>(ticks % 10000000u);
  const time_t unixTime = static_cast<time_t>(seconds);
  struct tm parts;
  char text[64];
  if (gmtime_r(&unixTime, &parts) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts) == 0) {
    return "filetime:" + std::to_string(ticks);
  }
  std::string out = text;
  if (fraction != 0) {
    char digits[16];
    std::snprintf(digits, sizeof digits, ".%07u", fraction);
    out += digits;
  }
  return out + "Z";
}
