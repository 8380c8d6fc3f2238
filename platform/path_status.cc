#include "platform/path_status.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/system_path.h"

namespace {

// The path's system name without trailing slashes (but "/" stays "/"), so
// that a status query without link following really looks at the last
// component. False when the path has no exact name on the system.
bool system_name_without_trailing_slash(const wstring& path, std::string& narrow) {
  if (!to_system_path(path, narrow)) return false;
  while (narrow.size() > 1 && narrow.back() == '/') narrow.pop_back();
  return true;
}

}  // namespace

PathKind kind_of_mode(unsigned mode) {
  if (S_ISREG(mode)) return PathKind::kRegular;
  if (S_ISDIR(mode)) return PathKind::kDirectory;
  if (S_ISLNK(mode)) return PathKind::kSymlink;
  return PathKind::kOther;
}

PathKind path_kind(const wstring& path, bool followLinks) {
  if (path.empty()) return PathKind::kMissing;
  std::string narrow;
  if (!system_name_without_trailing_slash(path, narrow)) return PathKind::kUnknown;
  struct stat st;
  const int rc = followLinks ? stat(narrow.c_str(), &st) : lstat(narrow.c_str(), &st);
  if (rc != 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? PathKind::kMissing : PathKind::kUnknown;
  }
  return kind_of_mode(st.st_mode);
}

bool read_link(const wstring& path, wstring& target) {
  std::string narrow;
  struct stat st;
  if (!to_system_path(path, narrow) || lstat(narrow.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
    return false;
  }
  std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
  for (;;) {
    const ssize_t n = readlink(narrow.c_str(), &link[0], link.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) < link.size()) {
      link.resize(static_cast<size_t>(n));
      break;
    }
    link.resize(link.size() * 2);
  }
  target = from_system_path(link);
  return true;
}

bool resolve_link_chain(const wstring& path, wstring& target) {
  // The kernel's own limit for a path walk.
  constexpr int kMaxLinkHops = 40;
  wstring current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    wstring link;
    if (path_kind(current, false) != PathKind::kSymlink) {
      target = current;
      return true;
    }
    if (!read_link(current, link) || link.empty()) return false;
    if (link[0] != kPathSeparatorChar) {
      const size_t slash = current.rfind(kPathSeparatorChar);
      link = (slash == wstring::npos ? wstring(u".") : current.substr(0, slash)) +
             kPathSeparator + link;
    }
    current = link;
  }
  return false;
}

bool may_write(const wstring& path) {
  std::string narrow;
  return to_system_path(path, narrow) && faccessat(AT_FDCWD, narrow.c_str(), W_OK, AT_EACCESS) == 0;
}
