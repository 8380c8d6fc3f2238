#include "platform/beneath_open.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/system_path.h"

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
// A concurrent rename anywhere on the file system can make the kernel
// refuse a beneath resolution it cannot prove (EAGAIN); it is asked again.
constexpr int kAgainAttempts = 8;

std::atomic<bool> g_componentWalk{false};
// Set once the kernel has said it has no openat2.
std::atomic<bool> g_noOpenat2{false};

// Whether every component of `relative` is an ordinary name.
bool plain_components(const std::string& relative) {
  if (relative.empty()) return true;
  if (relative.front() == '/' || relative.find('\0') != std::string::npos) return false;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string component = relative.substr(start, end - start);
    if (component.empty() || component == "." || component == "..") return false;
    start = end + 1;
  }
  return true;
}

// -1 with errno ENOSYS where the kernel lacks the call.
int openat2_beneath(int root, const std::string& relative) {
  struct open_how how = {};
  how.flags = kFolderFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  for (int attempt = 0;; ++attempt) {
    const long fd = ::syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how);
    if (fd >= 0 || errno != EAGAIN || attempt + 1 >= kAgainAttempts) return static_cast<int>(fd);
  }
}

// The walk: each level relative to the one above, never through a link.
int walk_beneath(int root, const std::string& relative) {
  int current = ::fcntl(root, F_DUPFD_CLOEXEC, 0);
  size_t start = 0;
  while (current >= 0 && start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string component = relative.substr(start, end - start);
    start = end + 1;
    const int next = ::openat(current, component.c_str(), kFolderFlags | O_NOFOLLOW);
    int err = errno;
    // O_DIRECTORY answers ENOTDIR for a link; the caller must hear ELOOP,
    // as openat2 says it.
    struct stat link;
    if (next < 0 && err == ENOTDIR &&
        ::fstatat(current, component.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(link.st_mode)) {
      err = ELOOP;
    }
    ::close(current);
    current = next;
    errno = err;
  }
  return current;
}

}  // namespace

void use_component_walk_for_tests(bool use) { g_componentWalk = use; }

void split_relative(const std::string& name, std::string& folder, std::string& leaf) {
  const size_t slash = name.rfind('/');
  folder = slash == std::string::npos ? std::string() : name.substr(0, slash);
  leaf = slash == std::string::npos ? name : name.substr(slash + 1);
}

Status open_beneath(const Directory& root, const std::string& relative, Directory& out) {
  out = Directory();
  const wstring path = root.path() + from_system_path(relative);
  if (!plain_components(relative)) return error_status(kErrorInvalidName, path);
  if (relative.empty()) return root.duplicate(out);
  int fd = -1;
  if (!g_componentWalk && !g_noOpenat2) {
    fd = openat2_beneath(root.descriptor(), relative);
    // Seccomp filters answer EPERM for a call they do not know.
    if (fd < 0 && (errno == ENOSYS || errno == EPERM)) g_noOpenat2 = true;
  }
  if (fd < 0 && (g_componentWalk || g_noOpenat2)) fd = walk_beneath(root.descriptor(), relative);
  if (fd < 0) {
    // O_NOFOLLOW on a link answers ELOOP, as RESOLVE_NO_SYMLINKS does;
    // EXDEV is a path that would have left root.
    return status_of_errno(errno == EXDEV ? ELOOP : errno, path);
  }
  out = Directory::adopt(UniqueFd(fd), path);
  return Status();
}
