// Whole directory trees as the tests compare them: the names in a tree and
// everything observable of each node, so that "the catalog is as it was"
// is one comparison. Links are never followed. Any thread.
#ifndef QXR8_TESTS_SUPPORT_FILE_TREE_H_
#define QXR8_TESTS_SUPPORT_FILE_TREE_H_

#include <sys/types.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace test_support {

// Names below `root` of everything in the tree (directories with a
// trailing "/"), sorted; empty for a missing or empty root.
std::vector<std::string> list_tree(const std::string& root);

// One node of a tree: its kind, bytes (files), link target (links),
// modification time (0 for directories, whose time moves with their
// entries) and inode (not compared for directories).
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
// Every node below `root` by its list_tree name.
std::map<std::string, NodeState> snapshot_tree(const std::string& root);
// Readable failure messages.
void PrintTo(const NodeState& node, std::ostream* out);

}  // namespace test_support

#endif  // QXR8_TESTS_SUPPORT_FILE_TREE_H_
