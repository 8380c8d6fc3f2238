// Helpers of the engine tests: private temporary directories, files with
// chosen bytes and times, and kits built with the kit writer.
#ifndef QXR8_TESTS_ENGINE_ENGINE_TEST_UTIL_H_
#define QXR8_TESTS_ENGINE_ENGINE_TEST_UTIL_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "install/install_data.h"
#include "platform/wstring.h"
#include "tests/support/file_io.h"
#include "tests/support/private_env.h"
#include "tests/support/temp_dir.h"

namespace enginetest {

// A fresh directory made with mkdtemp below `base` (/tmp by default),
// removed (without following links) when the object goes. Throws
// std::runtime_error when it cannot be made: no engine test can go on
// without its directories.
class TempDir {
 public:
  explicit TempDir(const std::string& base = "/tmp");
  const std::string& path() const { return m_dir.path(); }
  // path() + "/" + relative.
  std::string operator/(const std::string& relative) const { return m_dir / relative; }

 private:
  test_support::TempDir m_dir;
};

// Points TMPDIR and HOME at private directories for the object's life and
// puts the old values back afterwards.
class PrivateEnvironment {
 public:
  PrivateEnvironment();
  const TempDir& tmp() const { return m_tmp; }
  const TempDir& home() const { return m_home; }

 private:
  TempDir m_tmp;
  TempDir m_home;
  // Declared last, so the variables are back before the directories go.
  test_support::EnvironmentGuard m_env;
};

// Writes `content` to `path` (parents created) and sets its modification
// time to `mtime` Unix seconds.
void write_file(const std::string& path, const std::string& content, long mtime);
// The whole content; "<missing>" when it cannot be read.
std::string read_file(const std::string& path);
inline bool exists_nofollow(const std::string& path) { return test_support::file_exists(path); }
struct stat lstat_of(const std::string& path);
inline long mtime_of(const std::string& path) {
  return static_cast<long>(test_support::get_mtime(path));
}
using test_support::make_dirs;

// Names below `root` of everything in the tree (directories with a
// trailing "/"), not following links, sorted.
std::vector<std::string> list_tree(const std::string& root);

// Everything observable of a tree: for each path its kind, bytes (files),
// link target (links), modification time and inode.
struct NodeState {
  char kind;  // 'f' file, 'd' directory, 'l' link, 'o' other
  std::string content;
  long mtime;
  ino_t inode;
  bool operator==(const NodeState& other) const {
    return kind == other.kind && content == other.content && mtime == other.mtime &&
           (kind == 'd' || inode == other.inode);
  }
};
std::map<std::string, NodeState> snapshot_tree(const std::string& root);
// Readable failure messages.
void PrintTo(const NodeState& node, std::ostream* out);

// One file of a test kit.
struct KitFile {
  std::string name;  // as stored in the kit ("\" or "/")
  std::string content;
  long mtime;  // Unix seconds
  wstring wideName = wstring();  // stored instead of `name` when not empty
};

// Writes the files to a staging directory below `work`, packs them with the
// kit writer into `work`/name.xdk and returns the kit's path.
std::string make_kit(const TempDir& work, const std::string& name,
                     const std::vector<KitFile>& files);

// Unix seconds as the kit's file time.
_FILETIME file_time_of(long seconds);

}  // namespace enginetest

#endif  // QXR8_TESTS_ENGINE_ENGINE_TEST_UTIL_H_
