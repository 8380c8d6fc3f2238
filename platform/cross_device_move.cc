#include "platform/cross_device_move.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/byte_copy.h"
#include "platform/random_name.h"
#include "platform/tree_removal.h"
#include "platform/unique_fd.h"

namespace {

constexpr int kNameAttempts = 100;           // exclusive creation settles clashes



// Splits `path` into its directory ("." for a bare name) and last component;
// trailing slashes are ignored. EINVAL when there is no usable last
// component ("/", ".", "..").
int split_path(const std::string& path, std::string& dir, std::string& base) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  const std::string trimmed = path.substr(0, end);
  const size_t slash = trimmed.rfind('/');
  dir = slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
  base = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") return EINVAL;
  return 0;
}



// Owner and group where the system lets us; a set-user or set-group bit is
// dropped from `mode` when they could not both be kept, as it would then
// grant someone else's rights.
mode_t keep_owner(int fd, const struct stat& info) {
  mode_t mode = info.st_mode & 07777;
  if (::fchown(fd, info.st_uid, info.st_gid) != 0) {
    ::fchown(fd, static_cast<uid_t>(-1), info.st_gid);
    mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
  }
  return mode;
}

// Mode, owner and times of `info` onto the open file or directory `fd`.
int keep_attributes(int fd, const struct stat& info) {
  const mode_t mode = keep_owner(fd, info);
  if (::fchmod(fd, mode) != 0) return errno;
  const struct timespec times[2] = {info.st_atim, info.st_mtim};
  if (::futimens(fd, times) != 0) return errno;
  return 0;
}

int copy_entry(int srcDir, const char* srcName, const struct stat& info, int dstDir,
               const char* dstName, bool& created);

int copy_file(int srcDir, const char* srcName, const struct stat& info, int dstDir,
              const char* dstName, bool& created) {
  UniqueFd in(::openat(srcDir, srcName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (in.get() < 0) return errno;
  struct stat opened;
  if (::fstat(in.get(), &opened) != 0) return errno;
  // Replaced between the look and the open: not the file that was meant.
  if (opened.st_dev != info.st_dev || opened.st_ino != info.st_ino) return EAGAIN;
  UniqueFd out(
      ::openat(dstDir, dstName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (out.get() < 0) return errno;
  created = true;
  int err = copy_bytes(in.get(), 0, kCopyToEnd, out.get(), nullptr, 0);
  if (err == 0) err = keep_attributes(out.get(), opened);
  // A failed close can be the first news of a write that did not happen.
  if (::close(out.release()) != 0 && err == 0) err = errno;
  return err;
}

int copy_link(int srcDir, const char* srcName, const struct stat& info, int dstDir,
              const char* dstName, bool& created) {
  std::string text(static_cast<size_t>(info.st_size) + 1, '\0');
  while (true) {
    const ssize_t n = ::readlinkat(srcDir, srcName, &text[0], text.size());
    if (n < 0) return errno;
    if (static_cast<size_t>(n) < text.size()) {
      text.resize(static_cast<size_t>(n));
      break;
    }
    text.resize(text.size() * 2);  // grew since the look
  }
  if (::symlinkat(text.c_str(), dstDir, dstName) != 0) return errno;
  created = true;
  // A link's own owner and times; its mode means nothing. Not every file
  // system keeps them, and a link works without.
  if (::fchownat(dstDir, dstName, info.st_uid, info.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
    ::fchownat(dstDir, dstName, static_cast<uid_t>(-1), info.st_gid, AT_SYMLINK_NOFOLLOW);
  }
  const struct timespec times[2] = {info.st_atim, info.st_mtim};
  ::utimensat(dstDir, dstName, times, AT_SYMLINK_NOFOLLOW);
  return 0;
}

int copy_directory(int srcDir, const char* srcName, const struct stat& info, int dstDir,
                   const char* dstName, bool& created) {
  UniqueFd in(::openat(srcDir, srcName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (in.get() < 0) return errno;
  struct stat opened;
  if (::fstat(in.get(), &opened) != 0) return errno;
  if (opened.st_dev != info.st_dev || opened.st_ino != info.st_ino) return EAGAIN;
  if (::mkdirat(dstDir, dstName, 0700) != 0) return errno;
  created = true;
  UniqueFd out(::openat(dstDir, dstName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (out.get() < 0) return errno;

  DIR* dir = ::fdopendir(in.get());
  if (dir == nullptr) return errno;
  in.release();
  int err = 0;
  while (err == 0) {
    errno = 0;
    struct dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      err = errno;
      break;
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    struct stat entryInfo;
    if (::fstatat(::dirfd(dir), name, &entryInfo, AT_SYMLINK_NOFOLLOW) != 0) {
      err = errno;
      break;
    }
    bool ignored = false;
    err = copy_entry(::dirfd(dir), name, entryInfo, out.get(), name, ignored);
  }
  ::closedir(dir);
  // Last, as adding the entries changed the times and a read-only mode
  // would have refused them.
  if (err == 0) err = keep_attributes(out.get(), opened);
  return err;
}

int copy_entry(int srcDir, const char* srcName, const struct stat& info, int dstDir,
               const char* dstName, bool& created) {
  if (S_ISREG(info.st_mode)) return copy_file(srcDir, srcName, info, dstDir, dstName, created);
  if (S_ISLNK(info.st_mode)) return copy_link(srcDir, srcName, info, dstDir, dstName, created);
  if (S_ISDIR(info.st_mode)) {
    return copy_directory(srcDir, srcName, info, dstDir, dstName, created);
  }
  return EOPNOTSUPP;
}

bool same_file(int dirFd, const std::string& name, const struct stat& expected) {
  struct stat info;
  return ::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         info.st_dev == expected.st_dev && info.st_ino == expected.st_ino;
}

// Puts the complete copy `temporary` (identity `copy`) of a file or link in
// place of `base`, then removes the source. On failure everything is as it
// was before the move, except where the file system has no atomic exchange
// and a target had to be replaced outright.
int place_and_remove_source(int dstDir, const std::string& temporary, const std::string& base,
                            const struct stat& copy, int srcDir, const std::string& srcBase) {
  bool exchanged = false;  // the old target now stands under the temporary name
  bool replaced = false;   // the old target is gone for good
  bool placed = false;
  for (int attempt = 0; attempt < 3 && !placed; ++attempt) {
    // A target that exists is exchanged with the copy, so that it can be put
    // back when the source cannot be removed; a missing one is never
    // overwritten by surprise.
    if (::renameat2(dstDir, temporary.c_str(), dstDir, base.c_str(), RENAME_EXCHANGE) == 0) {
      exchanged = placed = true;
      break;
    }
    if (errno == ENOENT) {
      if (::renameat2(dstDir, temporary.c_str(), dstDir, base.c_str(), RENAME_NOREPLACE) == 0) {
        placed = true;
        break;
      }
      if (errno == EEXIST) continue;  // appeared meanwhile: exchange after all
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    // No exchange on this file system: a plain rename, which cannot be undone.
    if (::renameat(dstDir, temporary.c_str(), dstDir, base.c_str()) != 0) return errno;
    replaced = placed = true;
  }
  if (!placed) return EEXIST;

  if (exchanged) {
    // What now stands under the temporary name is the old target; a
    // directory planted there since the look must not be swapped for good.
    struct stat old;
    if (::fstatat(dstDir, temporary.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(old.st_mode)) {
      ::renameat2(dstDir, temporary.c_str(), dstDir, base.c_str(), RENAME_EXCHANGE);
      return EISDIR;
    }
  }

  if (::unlinkat(srcDir, srcBase.c_str(), 0) != 0) {
    const int err = errno;
    if (exchanged) {
      ::renameat2(dstDir, temporary.c_str(), dstDir, base.c_str(), RENAME_EXCHANGE);
    } else if (!replaced && same_file(dstDir, base, copy)) {  // it was missing: so again
      ::unlinkat(dstDir, base.c_str(), 0);
    }
    return err;
  }
  if (exchanged) ::unlinkat(dstDir, temporary.c_str(), 0);  // the old target
  return 0;
}

int move_entry(const std::string& source, const std::string& target,
         const BeforeTemporary& beforeTemporary) {
  std::string srcDirName, srcBase, dstDirName, base;
  int err = split_path(source, srcDirName, srcBase);
  if (err == 0) err = split_path(target, dstDirName, base);
  if (err != 0) return err;
  UniqueFd srcDir(::open(srcDirName.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (srcDir.get() < 0) return errno;
  UniqueFd dstDir(::open(dstDirName.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (dstDir.get() < 0) return errno;

  struct stat info;
  if (::fstatat(srcDir.get(), srcBase.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  // Rename's rules, checked before a byte is copied.
  struct stat targetInfo;
  if (::fstatat(dstDir.get(), base.c_str(), &targetInfo, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(targetInfo.st_mode) && !S_ISDIR(info.st_mode)) return EISDIR;
    if (!S_ISDIR(targetInfo.st_mode) && S_ISDIR(info.st_mode)) return ENOTDIR;
  }

  std::string temporary;
  bool created = false;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temporary = hidden_temporary_name();
    const std::string separator = dstDirName.back() == '/' ? "" : "/";
    if (beforeTemporary && !beforeTemporary(dstDirName + separator + temporary)) return ECANCELED;
    err = copy_entry(srcDir.get(), srcBase.c_str(), info, dstDir.get(), temporary.c_str(),
                     created);
    if (created || err != EEXIST) break;
  }
  struct stat copy;
  if (err == 0 && ::fstatat(dstDir.get(), temporary.c_str(), &copy, AT_SYMLINK_NOFOLLOW) != 0) {
    err = errno;
  }
  if (err == 0) {
    if (!S_ISDIR(info.st_mode)) {
      err = place_and_remove_source(dstDir.get(), temporary, base, copy, srcDir.get(), srcBase);
    } else if (::renameat(dstDir.get(), temporary.c_str(), dstDir.get(), base.c_str()) != 0) {
      err = errno;
    } else {
      // The copy is complete and in place; the source tree goes last.
      return remove_tree_at(srcDir.get(), srcBase.c_str());
    }
  }
  if (err != 0 && created) remove_tree_at(dstDir.get(), temporary);
  return err;
}

}  // namespace

int move_across_file_systems(const std::string& source, const std::string& target,
                             const BeforeTemporary& beforeTemporary) {
  const int err = move_entry(source, target, beforeTemporary);
  errno = err;
  return err;
}
