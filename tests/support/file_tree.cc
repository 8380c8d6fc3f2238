#include "tests/support/file_tree.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tests/support/file_io.h"

namespace test_support {

namespace {

void list_into(const std::string& root, const std::string& relative,
               std::vector<std::string>& out) {
  const std::string dirPath = relative.empty() ? root : root + "/" + relative;
  for (const std::string& name : list_dir(dirPath)) {
    const std::string rel = relative.empty() ? name : relative + "/" + name;
    if (is_dir(root + "/" + rel)) {
      out.push_back(rel + "/");
      list_into(root, rel, out);
    } else {
      out.push_back(rel);
    }
  }
}

}  // namespace

std::vector<std::string> list_tree(const std::string& root) {
  std::vector<std::string> out;
  list_into(root, "", out);
  std::sort(out.begin(), out.end());
  return out;
}

std::map<std::string, NodeState> snapshot_tree(const std::string& root) {
  std::map<std::string, NodeState> out;
  for (const std::string& rel : list_tree(root)) {
    const std::string full = root + "/" + rel;
    const struct stat st = lstat_of(full);
    NodeState node;
    node.mtime = static_cast<long>(st.st_mtime);
    node.inode = st.st_ino;
    if (S_ISREG(st.st_mode)) {
      node.kind = 'f';
      node.content = contents_of(full);
    } else if (S_ISDIR(st.st_mode)) {
      node.kind = 'd';
      node.mtime = 0;
    } else if (S_ISLNK(st.st_mode)) {
      node.kind = 'l';
      char target[4096];
      const ssize_t n = readlink(full.c_str(), target, sizeof target);
      node.content.assign(target, n > 0 ? static_cast<size_t>(n) : 0);
    } else {
      node.kind = 'o';
    }
    out[rel] = node;
  }
  return out;
}

void PrintTo(const NodeState& node, std::ostream* out) {
  *out << node.kind << " mtime=" << node.mtime << " inode=" << node.inode << " \""
       << (node.content.size() > 40 ? node.content.substr(0, 40) + "..." : node.content) << "\"";
}

}  // namespace test_support
