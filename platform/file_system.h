// A Windows-style file API on POSIX calls: Windows names, argument orders and
// error numbers. Nothing here throws; every failure is a returned code and,
// for the operations that reset it on entry, the process-wide last error.
//
// Thread safety: every operation may be called from any thread. A handle is
// used by one thread at a time.
#ifndef QXR8_PLATFORM_FILE_SYSTEM_H_
#define QXR8_PLATFORM_FILE_SYSTEM_H_

#include <atomic>
#include <cstdint>

#include "platform/wstring.h"

// A Windows file time: 100-ns intervals since 1601-01-01 UTC, low half first.
struct _FILETIME {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};

// Accepted wherever the Windows API takes one; only null or not matters.
struct _OVERLAPPED {
  uintptr_t Internal;
  uintptr_t InternalHigh;
  uint32_t Offset;
  uint32_t OffsetHigh;
  void* hEvent;
};

// Windows error numbers used by this layer and the engine.
enum : unsigned {
  kErrorSuccess = 0,
  kErrorFileNotFound = 2,       // ERROR_FILE_NOT_FOUND
  kErrorPathNotFound = 3,       // ERROR_PATH_NOT_FOUND
  kErrorInvalidHandle = 6,      // ERROR_INVALID_HANDLE
  kErrorInvalidData = 13,       // ERROR_INVALID_DATA
  kErrorInvalidParameter = 87,  // ERROR_INVALID_PARAMETER
  kErrorDiskFull = 112,         // ERROR_DISK_FULL
  kErrorInvalidName = 123,      // ERROR_INVALID_NAME
  kErrorFileTooLarge = 223,     // ERROR_FILE_TOO_LARGE
  kErrorAlreadyExists = 183,    // ERROR_ALREADY_EXISTS
  kErrorCantWrite = 1013,       // ERROR_CANTWRITE
  kErrorCancelled = 1223,       // ERROR_CANCELLED
};

// Access masks and creation dispositions of CreateFile.
enum : unsigned {
  kGenericRead = 0x80000000u,
  kGenericWrite = 0x40000000u,
  kCreateNew = 1,
  kCreateAlways = 2,  // O_CREAT without O_TRUNC: callers SetEndOfFile
  kOpenExisting = 3,
  kOpenAlways = 4,
  kTruncateExisting = 5,
};

// Move methods of SetFilePointer.
enum : unsigned { kFileBegin = 0, kFileCurrent = 1, kFileEnd = 2 };

// The invalid handle (Windows INVALID_HANDLE_VALUE).
inline void* const kInvalidHandleValue = reinterpret_cast<void*>(static_cast<intptr_t>(-1));

// The process-wide last-error code (not per thread; relaxed ordering).
extern std::atomic<int> ms_lastError;

// errno ENOENT gives 2, every other errno value 87. Stores the code in
// ms_lastError, and `err` as the last system error, and returns the code.
unsigned setLastErrorByErrNo(int err);

// Unix seconds <-> file time; parts of a second are dropped.
long FileTimeToEpoch(const _FILETIME& fileTime);
_FILETIME EpochToFileTime(const long& epochSeconds);

class FileSystem {
 public:
  // Opens `path`. Access: with kGenericWrite, O_RDWR if kGenericRead is also
  // set else O_WRONLY; otherwise O_RDONLY. Disposition 2 adds O_CREAT only,
  // 5 adds O_TRUNC, the others nothing. Mode 0660 (umask applies). Sets
  // `handle` only on success; the caller owns it until CloseHandle.
  static unsigned CreateFile(const wstring& path, unsigned access, unsigned shareMode,
                             unsigned disposition, void*& handle);
  // Reads until `toRead` bytes or end of file; end of file is not an error.
  static unsigned ReadFile(void* handle, void* buffer, unsigned toRead, unsigned* read,
                           _OVERLAPPED* overlapped);
  // One write of the whole data; a short write is a failure, coded by the
  // errno rule from the current errno. `written` gets the count written.
  static unsigned WriteFile(void* handle, const void* data, unsigned toWrite,
                            unsigned* written, _OVERLAPPED* overlapped);
  // Returns the low 32 bits of the new position, 0xFFFFFFFF on failure.
  static uint32_t SetFilePointer(void* handle, long distance, long* distanceHigh,
                                 unsigned moveMethod);
  // Cuts the file at the current position; errno rule on failure.
  static unsigned SetEndOfFile(void* handle);
  // Closes the descriptor; the handle is dead afterwards even on failure.
  // Leaves the last error alone unless the close fails (errno rule).
  static unsigned CloseHandle(void* handle);
  // Whole seconds: creation = st_ctime, access = st_atime, write = st_mtime.
  static unsigned GetFileTime(void* handle, _FILETIME* creation, _FILETIME* lastAccess,
                              _FILETIME* lastWrite);
  // Sets access and modification time to the last-write time (whole
  // seconds). 6 for the invalid handle; when `lastWrite` is null, the errno
  // rule applied to the current errno (2 for ENOENT, else 87).
  static unsigned SetFileTime(void* handle, const _FILETIME* creation,
                              const _FILETIME* lastAccess, const _FILETIME* lastWrite);
  // 0 and the low 32 bits of the size (stat, links followed), or 1.
  static unsigned GetFileSize(const wstring& path, unsigned* size);
  // TMPDIR when it names a directory, else /tmp; always ends with "/".
  static unsigned GetTempPath(wstring& path);
  // Creates a fresh empty file (exclusive, never through an existing name or
  // link; mode 0600) in `directory` itself, whatever TMPDIR says. The name is
  // the directory, "/", at most five units of `prefix` ("file" when empty),
  // then six random characters of [A-Za-z0-9]. Returns 0 with the new name,
  // or 1013 when the directory is missing or not writable; `name` is then
  // empty, so a caller that cleans up after a failure removes nothing.
  static unsigned GetTempFileName(const wstring& directory, const wstring& prefix,
                                  wstring& name);
  // Free bytes of the temporary directory's file system, saturating at
  // 0xFFFFFFFF. 0, 87 for a null pointer, 123 when there is no temp dir.
  static unsigned GetFreeSpaceTmpDir(unsigned* freeBytes);
  // Like mkdir -p (mkdir of each missing level; no process started). 183
  // when `path` already is a directory (nothing done, also when another
  // thread made it meanwhile), 0 when created now, 2 when it cannot be
  // created (e.g. below a regular file).
  static unsigned CreateDirectory(const wstring& path);
  // Like rm -rf, never following links: a link (also one given as `path`,
  // trailing "/" or not) is removed as itself, never its target's content.
  // Refuses "/" and a last component of "." or "..". Always 0.
  static unsigned RemoveDirectory(const wstring& path);
  // Like mv: rename(2), into `newPath` when that is an existing directory;
  // across file systems the mv tool, started without a shell. 0, 2 for a
  // missing source or any failed move, 87 when the tool cannot be started.
  static unsigned MoveFile(const wstring& existingPath, const wstring& newPath);
  // Like rm -f: unlink (a link is removed as itself). Always 0.
  static unsigned DeleteFile(const wstring& path);
  // The process-wide last error: set by the latest failing call of any
  // thread, cleared on entry by the handle operations (CreateFile, ReadFile,
  // WriteFile, SetFilePointer, SetEndOfFile, GetFileTime, SetFileTime).
  static unsigned GetLastError();
  // The errno of the system call whose failure set the last error, or 0 when
  // the last error did not come from a failed system call (an invalid handle,
  // a bad argument). Set and cleared together with GetLastError's slot, so it
  // is as process-wide and as racy as that one.
  static int GetLastSystemError();
};

#endif  // QXR8_PLATFORM_FILE_SYSTEM_H_
