// An open file and the path it was opened by: the descriptor-level half of
// the layer's directory-relative API (directory.h is the other half). Every
// operation returns a Status that names this file's path and the errno of
// the call that failed; none touches the process-wide last error.
//
// A File is used by one thread at a time; it owns its descriptor (closed
// once, by close() or the destructor) and is move-only.
#ifndef QXR8_PLATFORM_FILE_H_
#define QXR8_PLATFORM_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/path_status.h"
#include "platform/status.h"
#include "platform/unique_fd.h"
#include "platform/wstring.h"

// What the system says of a file, a folder or a link.
struct FileInfo {
  PathKind kind = PathKind::kMissing;
  unsigned mode = 0;     // permission bits and the set-id bits
  unsigned owner = 0;    // user id
  unsigned group = 0;
  uint64_t size = 0;
  int64_t modified = 0;  // modification time, Unix seconds
  long modifiedNanoseconds = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t links = 0;

  // The same file: device and inode.
  bool sameFile(const FileInfo& other) const {
    return device == other.device && inode == other.inode;
  }
};

// Which folder: what a run records of a folder it reached, so that a later
// step acts on that folder only while a name still leads to it.
struct FolderIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;

  bool operator==(const FolderIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
  bool operator!=(const FolderIdentity& other) const { return !(*this == other); }
};

// Which file, as a run left it: the same inode with the same size and
// modification time. A file edited in place since, or another file put in
// its place, is not the same.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modified = 0;
  long modifiedNanoseconds = 0;

  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified == other.modified && modifiedNanoseconds == other.modifiedNanoseconds;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

FolderIdentity folder_identity_of(const FileInfo& info);
FileIdentity file_identity_of(const FileInfo& info);

// Lock modes of File::lock and Directory::lock.
enum class LockMode { kShared, kExclusive };
enum class LockWait { kNo, kYes };

class File {
 public:
  File() = default;
  File(UniqueFd fd, const wstring& path) : m_fd(std::move(fd)), m_path(path) {}
  File(File&&) = default;
  File& operator=(File&&) = default;

  // Opens `path` with the open(2) `flags` (O_CLOEXEC is always added) and,
  // when creating, `mode` (the umask applies). 123 when the path has no
  // exact name on the system; else the code of the failed open.
  static Status open(const wstring& path, int flags, unsigned mode, File& out);

  bool isOpen() const { return m_fd.valid(); }
  int descriptor() const { return m_fd.get(); }
  const wstring& path() const { return m_path; }

  Status info(FileInfo& out) const;

  // Reads up to `size` bytes from `offset` (by position), stopping early
  // only at the end of the file; `got` says how many came.
  Status readAt(uint64_t offset, void* data, size_t size, size_t& got) const;
  // The whole content from offset 0, however long (`limit` bounds it: more
  // is refused with 13 and nothing stored).
  Status readAll(std::string& out, uint64_t limit = UINT64_MAX) const;

  // Writes all of `data` at the current position (or by position with
  // writeAllAt), going on after a short write.
  Status writeAll(const void* data, size_t size);
  Status writeAllAt(uint64_t offset, const void* data, size_t size);

  // Copies `size` bytes of `source` from `offset` to this file's current
  // position (byte_copy.h); 13 when the source ends early.
  Status copyFrom(const File& source, uint64_t offset, uint64_t size, void* buffer,
                  size_t bufferSize);

  // ftruncate; a fault point (fault_point.h) comes first.
  Status truncate(uint64_t size);
  // Access and modification time both `seconds` (whole seconds).
  Status setTimes(int64_t seconds);
  Status setMode(unsigned mode);
  // The file's group (its owner unchanged).
  Status setGroup(unsigned group);

  // Starts writing the data back now, without waiting (sync_file_range),
  // so that a later dataSync of many files waits for all of them at once.
  // Never fails: a system that cannot start it early writes at dataSync.
  void startWriteback() const;
  // fdatasync: the data and what is needed to read it back are on disk.
  Status dataSync() const;
  // fsync: the data and all the metadata (times, mode) are on disk.
  Status sync() const;

  // flock on this descriptor; with LockWait::kNo a lock held elsewhere
  // gives 32 at once.
  Status lock(LockMode mode, LockWait wait) const;

  // Closes now, reporting what close said; the file is closed either way.
  Status close();

 private:
  Status failure(int err) const { return status_of_errno(err, m_path); }

  UniqueFd m_fd;
  wstring m_path;
};

// The FileInfo of a stat(2) answer; used by File and Directory.
struct stat;
FileInfo file_info_of(const struct stat& status);

// For code that holds a descriptor it does not own (a FileSystem handle's):
// its FileInfo, and the room left on its file system as
// Directory::availableSpace tells it.
Status descriptor_info(int fd, FileInfo& out);
Status descriptor_lock(int fd, LockMode mode, LockWait wait);
Status descriptor_read_at(int fd, uint64_t offset, void* data, size_t size, size_t& got);
bool descriptor_available_space(int fd, uint64_t& bytes);

#endif  // QXR8_PLATFORM_FILE_H_
