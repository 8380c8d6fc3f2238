#include "platform/status.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/text_encoding.h"

namespace {

// Codes that do not come from a failed system call still need words.
const char* text_of_code(unsigned code) {
  switch (code) {
    case kErrorFileNotFound: return "The file does not exist";
    case kErrorPathNotFound: return "The folder does not exist or is not a folder";
    case kErrorAccessDenied: return "Access is denied";
    case kErrorInvalidHandle: return "The file is not open";
    case kErrorInvalidData: return "The kit is damaged";
    case kErrorSharingViolation: return "Another installation is writing into the catalog";
    case kErrorDiskFull: return "There is not enough space on the disk";
    case kErrorInvalidName: return "The name is not valid";
    case kErrorAlreadyExists: return "Something that is not a file stands in the way";
    case kErrorFileTooLarge: return "The file is too large";
    case kErrorCantWrite: return "The file cannot be written";
    case kErrorCancelled: return "The installation was cancelled";
    default: return "The operation failed";
  }
}

}  // namespace

Status error_status(unsigned code, const wstring& path) {
  Status status;
  status.code = code;
  status.path = path;
  return status;
}

unsigned code_of_system_error(int err) {
  switch (err) {
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case EFBIG: return kErrorFileTooLarge;
    case EEXIST: return kErrorAlreadyExists;
    case EWOULDBLOCK: return kErrorSharingViolation;
    default: return kErrorInvalidParameter;
  }
}

Status status_of_errno(int err, const wstring& path) {
  Status status;
  status.code = code_of_system_error(err);
  status.path = path;
  status.systemError = err;
  return status;
}

wstring status_reason(const Status& status) {
  std::string reason;
  if (status.systemError != 0) {
    char buffer[256] = {0};
    // The GNU variant may answer with a static text instead of the buffer.
    reason = strerror_r(status.systemError, buffer, sizeof buffer);
  }
  if (reason.empty()) reason = text_of_code(status.code);
  wstring out = widen_lib(reason);
  if (!status.note.empty()) out += u"; " + status.note;
  return out;
}

wstring describe_status(const Status& status) {
  wstring out;
  if (!status.path.empty()) out = status.path + u": ";
  out += status_reason(status);
  out += widen_lib(" (" + std::to_string(status.code) + ")");
  return out;
}
