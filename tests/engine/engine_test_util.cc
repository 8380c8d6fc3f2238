#include "tests/engine/engine_test_util.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "install/kit_writer.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"

namespace enginetest {

namespace {

void list_into(const std::string& root, const std::string& relative,
               std::vector<std::string>& out) {
  const std::string dirPath = relative.empty() ? root : root + "/" + relative;
  for (const std::string& name : test_support::list_dir(dirPath)) {
    const std::string rel = relative.empty() ? name : relative + "/" + name;
    struct stat st;
    if (lstat((root + "/" + rel).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      out.push_back(rel + "/");
      list_into(root, rel, out);
    } else {
      out.push_back(rel);
    }
  }
}

}  // namespace

TempDir::TempDir(const std::string& base) : m_dir(base, "qxr8-engine-") {
  if (!m_dir.ok()) throw std::runtime_error("mkdtemp failed in " + base);
}

PrivateEnvironment::PrivateEnvironment() {
  m_env.set("TMPDIR", m_tmp.path());
  m_env.set("HOME", m_home.path());
}

void write_file(const std::string& path, const std::string& content, long mtime) {
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) make_dirs(path.substr(0, slash));
  test_support::write_file(path, content);
  test_support::set_mtime(path, mtime);
}

std::string read_file(const std::string& path) {
  std::string content;
  return test_support::try_read_file(path, content) ? content : "<missing>";
}

struct stat lstat_of(const std::string& path) {
  struct stat st;
  std::memset(&st, 0, sizeof st);
  lstat(path.c_str(), &st);
  return st;
}

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
    struct stat st = lstat_of(full);
    NodeState node;
    node.mtime = static_cast<long>(st.st_mtime);
    node.inode = st.st_ino;
    if (S_ISREG(st.st_mode)) {
      node.kind = 'f';
      node.content = read_file(full);
    } else if (S_ISDIR(st.st_mode)) {
      node.kind = 'd';
      node.mtime = 0;  // a directory's time moves with its entries
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

_FILETIME file_time_of(long seconds) { return EpochToFileTime(seconds); }

std::string make_kit(const TempDir& work, const std::string& name,
                     const std::vector<KitFile>& files) {
  const std::string staging = work / (name + ".staging");
  std::vector<config::KitSourceFile> sources;
  int index = 0;
  for (const KitFile& file : files) {
    // Numbered staging files: a kit may name one file twice.
    const std::string path = staging + "/" + std::to_string(index++);
    write_file(path, file.content, file.mtime);
    const wstring name = file.wideName.empty() ? widen_lib(file.name) : file.wideName;
    sources.push_back(config::KitSourceFile{name, file_time_of(file.mtime), path,
                                            file.content.size()});
  }
  const std::string kitPath = work / (name + ".xdk");
  std::string error;
  if (!config::write_kit(kitPath, config::encode_single_header(u"Product", u"Vendor", u""),
                         sources, 6, error)) {
    throw std::runtime_error("write_kit: " + error);
  }
  return kitPath;
}

}  // namespace enginetest
