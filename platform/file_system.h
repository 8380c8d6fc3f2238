// A Windows-style file API on POSIX calls: Windows names, argument orders and
// error numbers. Nothing here throws; every failure is a returned code and,
// for the operations that reset it on entry, the process-wide last error.
//
// Thread safety: every operation may be called from any thread. A handle is
// used by one thread at a time.
//
// Paths reach the system through to_system_path (platform/system_path.h),
// exactly: an operation given a path that has no exact name on the system
// touches nothing and fails with 123 (ERROR_INVALID_NAME); CreateFile also
// stores it as the last error, GetFileSize reports it as 1.
#ifndef QXR8_PLATFORM_FILE_SYSTEM_H_
#define QXR8_PLATFORM_FILE_SYSTEM_H_

#include <atomic>
#include <cstdint>

#include "platform/error_codes.h"
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

// The descriptor a handle holds (-1 for the invalid handle). For code that
// must hand a handle's file to a descriptor-level call; the handle keeps
// owning it.
int descriptor_of_handle(void* handle);

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
  // Writes the whole data, going on after a short write. A failed write is
  // coded from its own errno: 112 for a full disk or quota, 223 past the
  // file-size limit (with SIGXFSZ ignored), else the errno rule; 1013 when
  // the system writes nothing and says nothing. `written` gets the count
  // written, also on failure.
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
  // or 1013 when the directory is missing or not writable (123 when it or
  // the prefix has no exact name on the system); `name` is then empty, so a caller that cleans up after a failure removes nothing.
  static unsigned GetTempFileName(const wstring& directory, const wstring& prefix,
                                  wstring& name);
  // Free bytes of the temporary directory's file system, saturating at
  // 0xFFFFFFFF. 0, 87 for a null pointer, 123 when there is no temp dir.
  static unsigned GetFreeSpaceTmpDir(unsigned* freeBytes);
  // Like mkdir -p (mkdir of each missing level; no process started): the
  // parents it makes get owner write and search whatever the umask, the last
  // level the umask's mode. 183 when `path` already is a directory (nothing
  // done, also when another thread made it meanwhile), 0 when created now,
  // 2 when it cannot be created (e.g. below a regular file), with errno set
  // to the failing call's; a failed call removes the levels it made; 123 for
  // a name the system cannot take. The last error is not touched.
  static unsigned CreateDirectory(const wstring& path);
  // Like rm -rf, never following links: a link (also one given as `path`,
  // trailing "/" or not) is removed as itself, never its target's content.
  // Any depth, with a bounded number of descriptors (see tree_removal.h).
  // Refuses "/" and a last component of "." or ".." (0, nothing done).
  // 0 when nothing is left at `path` (a missing path included); 145 when
  // something could not be removed (the rest is removed), with errno set to
  // the first failure's; 123 for a name the system cannot take. The last
  // error is not touched.
  static unsigned RemoveDirectory(const wstring& path);
  // Like mv: rename(2), into `newPath` when that is an existing directory.
  // Across file systems the move is made in the process, no program started
  // (cross_device_move.h): a file, a link (as itself) or a directory tree is
  // copied under a hidden temporary name beside the target, keeping mode,
  // times and, where allowed, owner; renamed into place when complete; the
  // source removed last. A failed move leaves no temporary, keeps the source
  // and (for a file or a link) leaves the target as it was.
  // 0, or 2 for a missing source or any failed move, with errno set to the
  // failing call's errno; 123 when either path has no exact name on the
  // system. The last error is not touched.
  static unsigned MoveFile(const wstring& existingPath, const wstring& newPath);
  // Like rm -f: unlink (a link is removed as itself). 0, or 123.
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
