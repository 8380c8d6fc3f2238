#include "config/config_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <random>
#include <string>

#include "config/byte_escape.h"
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

std::string textOf(const ConfigFile& config) {
  std::string text;
  for (const ConfigFile::Entry& entry : config.entries()) {
    const std::string key = narrow_keeping_bytes(entry.key);
    for (const wstring& value : entry.values) {
      text += key;
      text += '=';
      text += narrow_keeping_bytes(value);
      text += '\n';
    }
  }
  return text;
}

// A name beside `target` that nobody else is likely to pick; the exclusive
// open decides.
std::string candidateName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  std::random_device device;
  const unsigned long long mix =
      (static_cast<unsigned long long>(device()) << 32) ^ static_cast<unsigned long long>(getpid()) ^
      (static_cast<unsigned long long>(counter++) << 16) ^
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string suffix;
  unsigned long long v = mix;
  for (int i = 0; i < 8; ++i) {
    suffix += kDigits[v % 36];
    v /= 36;
  }
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  // A name near the length limit would leave no room for the decoration.
  if (base.size() > 200) return dir + "." + suffix + ".tmp";
  return dir + "." + base + "." + suffix + ".tmp";
}

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void write_config_file(const wstring& path, const ConfigFile& config) {
  const std::string text = textOf(config);

  std::string target;
  if (!resolveLinks(narrow_lib(path), target)) throw kCannotCreate;
  struct stat old;
  const bool exists = stat(target.c_str(), &old) == 0;
  // Renaming over a directory or a device would not be "writing the file".
  if (exists && !S_ISREG(old.st_mode)) throw kCannotCreate;
  // Replacing a file does not need the file's own write permission, but a
  // user who made the launcher's file read-only means it to stay as it is,
  // just as an open for writing would refuse it.
  if (exists && faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) throw kCannotCreate;

  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = candidateName(target);
    // 0666 lets the umask decide for a new file, as a plain create would.
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST && errno != EINTR) break;
  }
  if (fd < 0) throw kCannotCreate;

  bool ok = true;
  if (exists) {
    // The user's file keeps its owner and mode; the owner only when we may.
    if (old.st_uid != geteuid() || old.st_gid != getegid()) {
      if (fchown(fd, old.st_uid, old.st_gid) != 0) {
        // Not permitted for an ordinary user; the mode still carries over.
      }
    }
    ok = fchmod(fd, old.st_mode & 07777) == 0;
  }
  // A file system that cannot sync (EINVAL) still holds what was written.
  ok = ok && writeAll(fd, text) && (fsync(fd) == 0 || errno == EINVAL);
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    throw kCannotWrite;
  }
}
