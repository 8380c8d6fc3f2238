#include "install/install_failure.h"

#include <cstring>
#include <string>

#include "platform/file_system.h"
#include "platform/text_encoding.h"

namespace {

// Codes that do not come from a failed system call still need words.
const char* text_of_code(unsigned code) {
  switch (code) {
    case kErrorFileNotFound: return "The file does not exist";
    case kErrorPathNotFound: return "The folder does not exist or is not a folder";
    case 5: return "Access is denied";
    case kErrorInvalidHandle: return "The file is not open";
    case kErrorInvalidData: return "The kit is damaged";
    case 32: return "Another installation is writing into the catalog";
    case kErrorInvalidParameter: return "The operation failed";
    case 112: return "There is not enough space on the disk";
    case kErrorInvalidName: return "The name is not valid";
    case kErrorAlreadyExists: return "Something that is not a file stands in the way";
    case 223: return "The file is too large";
    case kErrorCantWrite: return "The file cannot be written";
    case kErrorCancelled: return "The installation was cancelled";
    default: return "The operation failed";
  }
}

}  // namespace

wstring describe_failure(const InstallFailure& failure) {
  std::string reason;
  if (failure.systemError != 0) {
    char buffer[256] = {0};
    // The GNU variant may answer with a static text instead of the buffer.
    reason = strerror_r(failure.systemError, buffer, sizeof buffer);
  }
  if (reason.empty()) reason = text_of_code(failure.code);
  wstring out;
  if (!failure.path.empty()) out = failure.path + u": ";
  out += widen_lib(reason);
  out += widen_lib(" (" + std::to_string(failure.code) + ")");
  return out;
}
