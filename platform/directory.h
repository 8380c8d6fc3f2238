// An open directory and the path it was opened by: the layer's
// directory-relative file API. Every operation works below the open
// descriptor (openat, fstatat, mkdirat, renameat, unlinkat, ...), so that
// what was checked is what is used, whatever is renamed meanwhile above
// it. Names may hold "/" between components. Each operation takes the name
// either as a wstring, converted through to_system_path (a name without an
// exact system name fails with 123 and touches nothing), or as its system
// bytes already converted (a SystemName), which is how the engine passes a
// name it converted once. A failed operation returns a Status naming the
// full path (this directory's path followed by the name) and the errno of
// the failed call; none touches the process-wide last error.
//
// A Directory is used by one thread at a time; it owns its descriptor and
// is move-only. What survives a crash: what sync() (for entries) and
// File::dataSync/sync (for contents) reported as done.
#ifndef QXR8_PLATFORM_DIRECTORY_H_
#define QXR8_PLATFORM_DIRECTORY_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/path_status.h"
#include "platform/status.h"
#include "platform/unique_fd.h"
#include "platform/wstring.h"

enum class FollowLinks { kNo, kYes };

// A name's exact bytes on the system, converted once (to_system_path).
struct SystemName {
  std::string bytes;
};

class Directory {
 public:
  Directory() = default;
  Directory(Directory&&) = default;
  Directory& operator=(Directory&&) = default;

  // Opens the directory `path` (links followed, as any path a user gives).
  // The Directory's path is `path` with one "/" at its end.
  static Status open(const wstring& path, Directory& out);

  bool isOpen() const { return m_fd.valid(); }
  int descriptor() const { return m_fd.get(); }
  // Ends with "/".
  const wstring& path() const { return m_path; }
  wstring pathOf(const wstring& name) const { return m_path + name; }

  // A second descriptor of the same directory.
  Status duplicate(Directory& out) const;

  // The directory `name` below this one. With FollowLinks::kNo a link
  // there fails (ELOOP or ENOTDIR, code 87 or 3) and is never followed.
  Status openDirectory(const wstring& name, FollowLinks follow, Directory& out) const;
  Status openDirectory(const SystemName& name, FollowLinks follow, Directory& out) const;

  // The file `name` with the open(2) `flags` (O_CLOEXEC added) and, when
  // creating, `mode` (the umask applies).
  Status openFile(const wstring& name, int flags, unsigned mode, File& out) const;
  Status openFile(const SystemName& name, int flags, unsigned mode, File& out) const;

  // A fresh file under a new hidden temporary name (random_name.h), made
  // exclusively and never through a link; `beforeCreate`, when given, is
  // told each name before it is tried and may veto with a failed Status.
  // `name` gets the name used.
  Status createTemporary(unsigned mode,
                         const std::function<Status(const wstring& name)>& beforeCreate,
                         File& out, wstring& name) const;
  Status createTemporary(unsigned mode, File& out, SystemName& name) const;

  // What stands at `name`; kind kMissing (and success) when nothing does
  // or a level above it is missing.
  Status info(const wstring& name, FollowLinks follow, FileInfo& out) const;
  Status info(const SystemName& name, FollowLinks follow, FileInfo& out) const;
  // This directory itself.
  Status info(FileInfo& out) const;

  // mkdirat with `mode` (the umask applies); 183 when the name is taken.
  Status makeDirectory(const wstring& name, unsigned mode) const;
  Status makeDirectory(const SystemName& name, unsigned mode) const;
  Status setMode(const wstring& name, unsigned mode) const;
  // fchmod of this directory itself (what was opened, whatever its name
  // leads to now).
  Status setOwnMode(unsigned mode) const;
  // renameat of `from` here to `to` in `target` (replacing a file there).
  Status rename(const wstring& from, const Directory& target, const wstring& to) const;
  Status rename(const SystemName& from, const Directory& target, const SystemName& to) const;
  // The same, but never replacing anything: 183 (EEXIST) when `to` is
  // taken, even by a dangling link. Where the file system has no such
  // rename, a file or link is linked under the new name and unlinked under
  // the old, which refuses a taken name just as well.
  Status renameNoReplace(const SystemName& from, const Directory& target,
                         const SystemName& to) const;
  // unlinkat of a file or link (never followed); a missing name is success.
  Status remove(const wstring& name) const;
  Status remove(const SystemName& name) const;
  // unlinkat of an empty directory; a missing name is success.
  Status removeDirectory(const wstring& name) const;
  Status removeDirectory(const SystemName& name) const;
  // `name` and everything below it, as rm -rf does (tree_removal.h).
  Status removeTree(const wstring& name) const;

  // The entries ("." and ".." left out), each looked at without following
  // links, in the order the system gives them.
  Status list(std::vector<DirectoryEntry>& out) const;

  // fsync of the directory: its entries (names made, renamed, removed) are
  // on disk.
  Status sync() const;

  Status lock(LockMode mode, LockWait wait) const;

  // Bytes an unprivileged writer may still use on this directory's file
  // system (f_bavail blocks of f_frsize); false when the system cannot tell.
  bool availableSpace(uint64_t& bytes) const;

  // Where this directory really is now, links resolved (the kernel's name
  // for the descriptor); its path() when the system cannot tell.
  wstring realPath() const;

  // The display path of a name given as system bytes.
  wstring pathOf(const SystemName& name) const;

  // Takes over `fd`, an open directory descriptor, under `path`.
  static Directory adopt(UniqueFd fd, const wstring& path);

 private:
  Directory(UniqueFd fd, const wstring& path) : m_fd(std::move(fd)), m_path(path) {}
  Status failure(int err, const wstring& name) const { return status_of_errno(err, pathOf(name)); }
  Status failure(int err, const SystemName& name) const {
    return status_of_errno(err, pathOf(name));
  }
  // The name's exact system bytes, or false (then 123).
  bool systemName(const wstring& name, std::string& out) const;
  Status createExclusive(const wstring& name, unsigned mode, File& out) const;

  UniqueFd m_fd;
  wstring m_path;
};

#endif  // QXR8_PLATFORM_DIRECTORY_H_
