// The Windows error numbers that the platform layer and the engine give.
// Every layer names them with these constants; a bare number is never
// compared with a code.
#ifndef QXR8_PLATFORM_ERROR_CODES_H_
#define QXR8_PLATFORM_ERROR_CODES_H_

enum : unsigned {
  kErrorSuccess = 0,
  kErrorFileNotFound = 2,        // ERROR_FILE_NOT_FOUND
  kErrorPathNotFound = 3,        // ERROR_PATH_NOT_FOUND
  kErrorAccessDenied = 5,        // ERROR_ACCESS_DENIED
  kErrorInvalidHandle = 6,       // ERROR_INVALID_HANDLE
  kErrorInvalidData = 13,        // ERROR_INVALID_DATA
  kErrorSharingViolation = 32,   // ERROR_SHARING_VIOLATION: another run holds the catalog
  kErrorInvalidParameter = 87,   // ERROR_INVALID_PARAMETER
  kErrorDiskFull = 112,          // ERROR_DISK_FULL
  kErrorInvalidName = 123,       // ERROR_INVALID_NAME
  kErrorDirNotEmpty = 145,       // ERROR_DIR_NOT_EMPTY
  kErrorAlreadyExists = 183,     // ERROR_ALREADY_EXISTS
  kErrorFileTooLarge = 223,      // ERROR_FILE_TOO_LARGE
  kErrorCantWrite = 1013,        // ERROR_CANTWRITE
  kErrorCancelled = 1223,        // ERROR_CANCELLED
};

#endif  // QXR8_PLATFORM_ERROR_CODES_H_
