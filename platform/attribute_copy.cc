#include "platform/attribute_copy.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "platform/system_path.h"

namespace {

// The attribute names of a file (by path when fd < 0), or false when they
// cannot be listed. A file system without attributes has none.
bool listNames(const std::string& path, int fd, std::set<std::string>& names) {
  names.clear();
  std::vector<char> buffer;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const ssize_t size = fd < 0 ? listxattr(path.c_str(), nullptr, 0) : flistxattr(fd, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;
    buffer.resize(static_cast<size_t>(size));
    const ssize_t got = fd < 0 ? listxattr(path.c_str(), buffer.data(), buffer.size())
                               : flistxattr(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == ERANGE) continue;  // grew in between
    if (got < 0) return false;
    for (size_t at = 0; at < static_cast<size_t>(got);) {
      const std::string name(&buffer[at]);
      at += name.size() + 1;
      if (!name.empty()) names.insert(name);
    }
    return true;
  }
  return false;
}

bool readValue(const std::string& path, const std::string& name, std::vector<char>& value) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const ssize_t size = getxattr(path.c_str(), name.c_str(), nullptr, 0);
    if (size < 0) return false;
    value.resize(static_cast<size_t>(size));
    const ssize_t got = getxattr(path.c_str(), name.c_str(), value.data(), value.size());
    if (got < 0 && errno == ERANGE) continue;
    if (got < 0) return false;
    value.resize(static_cast<size_t>(got));
    return true;
  }
  return false;
}

}  // namespace

bool copy_file_attributes(const wstring& originalPath, const FileInfo& original, const File& to) {
  std::string path;
  if (!to_system_path(originalPath, path)) return false;
  const int fd = to.descriptor();
  FileInfo now;
  if (!to.info(now).ok()) return false;
  // A new file belongs to the writer (and to the folder's group under a
  // set-group-id folder); giving it away is refused to ordinary users.
  if ((now.owner != original.owner || now.group != original.group) &&
      fchown(fd, original.owner, original.group) != 0) {
    return false;
  }

  std::set<std::string> wanted;
  std::set<std::string> present;
  if (!listNames(path, -1, wanted) || !listNames(std::string(), fd, present)) return false;
  std::vector<char> value;
  for (const std::string& name : wanted) {
    if (!readValue(path, name, value)) return false;
    if (fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  for (const std::string& name : present) {
    if (wanted.count(name) == 0 && fremovexattr(fd, name.c_str()) != 0) return false;
  }

  // After the owner (fchown drops set-id bits) and the ACL (which sets the
  // group bits) so that the bits end as the original's.
  if (fchmod(fd, original.mode) != 0) return false;
  if (!to.info(now).ok()) return false;
  return now.owner == original.owner && now.group == original.group &&
         now.mode == original.mode;
}
