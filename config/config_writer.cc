#include "config/config_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "config/ascii_identity.h"
#include "platform/byte_escape.h"
#include "platform/system_path.h"
#include "config/file_attributes.h"
#include "config/temporary_file.h"
#include "platform/text_encoding.h"

namespace {

constexpr int kCannotCreate = 1;
constexpr int kCannotWrite = 2;
constexpr int kMaxLinkHops = 40;  // the kernel's own limit for a path walk

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The file that a write of `path` must replace: `path` itself, or the end of
// its chain of symbolic links (which may not exist yet). Replacing the link
// instead would cut the user's file loose from it. False for a link loop.
bool resolveLinks(std::string path, std::string& target) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      target = path;
      return true;
    }
    std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    for (;;) {
      const ssize_t n = readlink(path.c_str(), &link[0], link.size());
      if (n < 0) return false;
      if (static_cast<size_t>(n) < link.size()) {
        link.resize(static_cast<size_t>(n));
        break;
      }
      link.resize(link.size() * 2);
    }
    if (link.empty()) return false;
    path = link[0] == '/' ? link : directoryOf(path) + "/" + link;
  }
  return false;
}

// Appends the multibyte form of `w`; ASCII text, most of any launcher
// file, is copied as it is where the locale keeps ASCII.
void appendNarrow(std::string& text, const wstring& w, bool asciiAsIs) {
  if (asciiAsIs && std::all_of(w.begin(), w.end(), [](char16_t c) { return c != 0 && c < 0x80; })) {
    text.append(w.begin(), w.end());
  } else {
    text += narrow_keeping_bytes(w);
  }
}

std::string textOf(const ConfigFile& config) {
  const bool asciiAsIs = locale_keeps_ascii();
  std::string text;
  for (const ConfigFile::Entry& entry : config.entries()) {
    std::string key;
    appendNarrow(key, entry.key, asciiAsIs);
    for (const wstring& value : entry.values) {
      text += key;
      text += '=';
      appendNarrow(text, value, asciiAsIs);
      text += '\n';
    }
  }
  // A first key that begins with the bytes FF FE (carried over from a file
  // whose first line was empty) would make the file read back as UTF-16.
  // An empty line, which the reader skips, keeps it a multibyte file.
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
      static_cast<unsigned char>(text[1]) == 0xFE) {
    text.insert(0, 1, '\n');
  }
  return text;
}

bool writeAllAt(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool readAllAt(int fd, std::string& bytes) {
  bytes.clear();
  char chunk[65536];
  for (;;) {
    const ssize_t n = pread(fd, chunk, sizeof chunk, static_cast<off_t>(bytes.size()));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    bytes.append(chunk, static_cast<size_t>(n));
  }
}

// A file system that cannot sync (EINVAL) still holds what was written.
bool syncFile(int fd) { return fsync(fd) == 0 || errno == EINVAL; }

// The rename leaves the folder pointing at the new file; syncing the folder
// makes that survive a crash. Best effort: the file itself is complete.
void syncFolder(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

enum class Outcome { kDone, kNotPossible };

// Writes `text` to a temporary beside `target` and renames it over the
// target, so that a reader sees the old file or the new one and nothing in
// between. kNotPossible (nothing changed, the temporary gone) when the
// temporary cannot be made in the folder or cannot carry the old file's
// owner, group, mode and attributes; `old` is null for a new file. Throws 2
// when writing or renaming fails; the old file stays and the temporary goes.
Outcome writeByRename(const std::string& target, const std::string& text,
                      const struct stat* old) {
  if (old != nullptr && old->st_nlink != 1) return Outcome::kNotPossible;
  TemporaryFile temp;
  if (!temp.create(target)) return Outcome::kNotPossible;
  if (old != nullptr && !copy_file_attributes(target, *old, temp.fd())) {
    return Outcome::kNotPossible;
  }
  if (!writeAllAt(temp.fd(), text) || !syncFile(temp.fd()) || !temp.close() ||
      rename(temp.name().c_str(), target.c_str()) != 0) {
    throw kCannotWrite;
  }
  temp.commit();
  syncFolder(directoryOf(target));
  return Outcome::kDone;
}

// Writes `text` into the existing file itself, which keeps its inode and so
// its links, owner, group, mode and attributes. The whole old content is
// read first; if writing fails it is put back. Throws 1 when the file cannot
// be opened for reading and writing or read whole, 2 when writing fails.
void writeInPlace(const std::string& target, const std::string& text) {
  const int fd = open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) throw kCannotCreate;
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  struct stat st;
  std::string oldBytes;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !readAllAt(fd, oldBytes)) {
    throw kCannotCreate;
  }
  if (writeAllAt(fd, text) && ftruncate(fd, static_cast<off_t>(text.size())) == 0 &&
      syncFile(fd)) {
    return;
  }
  // The old bytes fit where they were; shorten the file back to them.
  writeAllAt(fd, oldBytes);
  if (ftruncate(fd, static_cast<off_t>(oldBytes.size())) == 0) syncFile(fd);
  throw kCannotWrite;
}

}  // namespace

void write_config_file(const wstring& path, const ConfigFile& config) {
  const std::string text = textOf(config);

  std::string target;
  std::string name;
  if (!to_system_path(path, name) || !resolveLinks(name, target)) throw kCannotCreate;
  remove_stale_temporaries(directoryOf(target));
  struct stat old;
  if (stat(target.c_str(), &old) != 0) {
    if (errno != ENOENT) throw kCannotCreate;
    if (writeByRename(target, text, nullptr) == Outcome::kNotPossible) throw kCannotCreate;
    return;
  }
  // Renaming over a directory or a device would not be "writing the file".
  if (!S_ISREG(old.st_mode)) throw kCannotCreate;
  // Replacing a file does not need the file's own write permission, but a
  // user who made the launcher's file read-only means it to stay as it is,
  // just as an open for writing would refuse it.
  if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) throw kCannotCreate;
  if (writeByRename(target, text, &old) == Outcome::kDone) return;
  writeInPlace(target, text);
}
