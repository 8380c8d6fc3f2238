#include "tools/xdktool_messages.h"

#include "platform/file_system.h"

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
