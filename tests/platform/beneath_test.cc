// The catalog as untrusted ground, at the layer's lowest level: a folder
// opened below another never through a link (with openat2 and with the
// walk that stands in for it), a rename that never replaces, and the
// descriptors a process has left.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/beneath_open.h"
#include "platform/descriptor_budget.h"
#include "platform/directory.h"
#include "platform/text_encoding.h"
#include "tests/support/child_process.h"
#include "tests/support/file_io.h"
#include "tests/support/temp_dir.h"

using namespace test_support;

namespace {

class Beneath : public ::testing::TestWithParam<bool> {
 protected:
  TempDir root;
  TempDir outside;
  Directory opened;

  void SetUp() override {
    use_component_walk_for_tests(GetParam());
    make_dirs(root / "a/b/c");
    make_dirs(outside / "x");
    write_file(root / "a/file", "f");
    ASSERT_EQ(0, symlink((outside / "x").c_str(), (root / "a/link").c_str()));
    ASSERT_EQ(0, symlink("b", (root / "a/inner").c_str()));
    ASSERT_TRUE(Directory::open(widen_lib(root.path()), opened).ok());
  }
  void TearDown() override { use_component_walk_for_tests(false); }
};

TEST_P(Beneath, OpensOnlyRealFoldersBelowTheRoot) {
  struct Case {
    const char* relative;
    unsigned code;  // 0: opens
    int err;
  };
  const Case cases[] = {
      {"", 0, 0},
      {"a/b/c", 0, 0},
      {"a/link", 87, ELOOP},       // a link to a folder outside
      {"a/inner/c", 87, ELOOP},    // a link within, midway
      {"a/file", 3, ENOTDIR},
      {"a/missing/c", 2, ENOENT},
      {"a/../a", 123, 0},
      {"/etc", 123, 0},
      {"a//b", 123, 0},
      {"a/./b", 123, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.relative);
    Directory out;
    const Status status = open_beneath(opened, c.relative, out);
    EXPECT_EQ(c.code, status.code);
    EXPECT_EQ(c.err, status.systemError);
    EXPECT_EQ(c.code == 0, out.isOpen());
    if (c.code != 0) {
      EXPECT_EQ(widen_lib(root.path() + "/" + c.relative), status.path);
    }
  }
  Directory deep;
  ASSERT_TRUE(open_beneath(opened, "a/b", deep).ok());
  FileInfo info;
  ASSERT_TRUE(deep.info(info).ok());
  EXPECT_EQ(lstat_of(root / "a/b").st_ino, info.inode);
}

INSTANTIATE_TEST_SUITE_P(OpenatAndWalk, Beneath, ::testing::Bool());

TEST(RenameNoReplace, NeverReplacesWhatStandsAtTheTarget) {
  TempDir dir;
  Directory opened;
  ASSERT_TRUE(Directory::open(widen_lib(dir.path()), opened).ok());
  for (const char* taken : {"file", "dangling"}) {
    SCOPED_TRACE(taken);
    write_file(dir / "from", "new");
    write_file(dir / "file", "old");
    remove_tree(dir / "dangling");
    ASSERT_EQ(0, symlink("nowhere", (dir / "dangling").c_str()));
    const Status status = opened.renameNoReplace(SystemName{"from"}, opened, SystemName{taken});
    EXPECT_EQ(183u, status.code);
    EXPECT_EQ(widen_lib(dir / taken), status.path);
    EXPECT_EQ("new", contents_of(dir / "from"));
  }
  EXPECT_TRUE(opened.renameNoReplace(SystemName{"from"}, opened, SystemName{"free"}).ok());
  EXPECT_EQ("new", contents_of(dir / "free"));
  EXPECT_FALSE(file_exists(dir / "from"));
}

TEST(DescriptorBudget, CountsWhatTheLimitLeaves) {
  const ChildResult r = run_function([] {
    const rlimit low = {40, 40};
    if (setrlimit(RLIMIT_NOFILE, &low) != 0) return 2;
    const size_t before = spare_descriptors();
    const int extra = dup(0);
    const size_t after = spare_descriptors();
    return descriptor_limit() == 40 && before < 40 && before > 30 && after + 1 == before &&
                   extra >= 0
               ? 0
               : 1;
  });
  EXPECT_EQ(0, r.status);
}

}  // namespace
