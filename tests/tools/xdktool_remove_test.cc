// xdktool remove as a program: what goes, what stays, and a removal that
// fails halfway.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/file_io.h"
#include "tests/support/file_tree.h"
#include "tests/support/kit_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/xdktool_run.h"

using namespace test_support;

namespace {

class XdktoolRemoveTest : public ::testing::Test {
 protected:
  Sandbox env;
  TempDir work;
  TempDir catalog;

  // A kit in three folders, installed into the catalog.
  std::string installed() {
    const std::string kit = make_kit(work.path(), "kit",
                                     {{"a/one.tpl", "one", 1700000000},
                                      {"a/deep/two.tpl", "two", 1700000000},
                                      {"b/three.tpl", "three", 1700000000},
                                      {"c/four.tpl", "four", 1700000000},
                                      {"d/e/five.tpl", "five", 1700000000}});
    const ChildResult r = run_xdktool({"install", "--register", kit, catalog.path()});
    EXPECT_EQ(0, r.status) << r.err;
    return kit;
  }
};

TEST_F(XdktoolRemoveTest, ChangedAndUnrelatedFilesStayAndOnlyEmptiedFoldersGo) {
  const std::string kit = installed();
  write_file(catalog / "b/three.tpl", "changed by the user", 1800000000);
  write_file(catalog / "c/notes.txt", "the user's own", 1800000000);
  make_dirs(catalog / "a/deep/empty-of-the-user");
  const auto before = snapshot_tree(catalog.path());

  const ChildResult plan = run_xdktool({"remove", "--dry-run", kit, catalog.path()});
  EXPECT_EQ(0, plan.status) << plan.err;
  EXPECT_NE(std::string::npos, plan.out.find("remove\t" + (catalog / "a/one.tpl") + "\n"));
  EXPECT_NE(std::string::npos,
            plan.out.find("xdktool remove: dry run: 4 files would be removed, 1 kept (changed), "
                          "2 folders would be removed\n"))
      << plan.out;
  EXPECT_EQ(before, snapshot_tree(catalog.path()));

  const ChildResult r = run_xdktool({"remove", "--unregister", kit, catalog.path()});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("kept\t" + (catalog / "b/three.tpl") +
                "\tchanged\nxdktool remove: registration unchanged\n"
                "xdktool remove: 4 files removed, 1 kept (changed), 2 folders removed\n",
            r.out);
  // "a" still holds a folder of the user's, "c" the user's file; "d" held
  // only the kit's.
  EXPECT_EQ((std::vector<std::string>{"a/", "a/deep/", "a/deep/empty-of-the-user/", "b/",
                                      "b/three.tpl", "c/", "c/notes.txt"}),
            list_tree(catalog.path()));
  EXPECT_NE(std::string::npos, r.err.find("stays registered")) << r.err;

  // Once nothing is left, the catalog leaves the launcher's list.
  remove_tree(catalog / "b/three.tpl");
  remove_tree(catalog / "c/notes.txt");
  const ChildResult again = run_xdktool({"remove", "--unregister", kit, catalog.path()});
  EXPECT_EQ(0, again.status) << again.err;
  EXPECT_EQ(0u, again.out.find("xdktool remove: unregistered " + catalog.path() + "\n"));
  EXPECT_EQ(std::string::npos,
            read_file(env.home() + "/.Qx/qxlaunch/qxlaunch.cfg").find(catalog.path()));
}

TEST_F(XdktoolRemoveTest, ARemovalThatFailsHalfwayLeavesTheCatalogAsItWas) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand the catalog to another user";
  const std::string kit = installed();
  // The removal runs as another user, who may empty "a" but not "b".
  TempDir tmp;
  for (const std::string& path : {catalog.path(), catalog / "a", catalog / "a/deep",
                                  catalog / "a/one.tpl", catalog / "a/deep/two.tpl",
                                  catalog / "b", catalog / "b/three.tpl", catalog / "c",
                                  catalog / "c/four.tpl", catalog / "d", catalog / "d/e",
                                  catalog / "d/e/five.tpl", tmp.path(), work.path(),
                                  work / "kit.xdk"}) {
    ASSERT_EQ(0, chown(path.c_str(), kOtherUser, kOtherUser)) << path;
  }
  ASSERT_EQ(0, chmod((catalog / "b").c_str(), 0555));
  const auto before = snapshot_tree(catalog.path());
  ChildOptions asOther;
  asOther.asOtherUser = true;
  asOther.environment = changed_environment(current_environment(), {"TMPDIR=" + tmp.path()});
  const ChildResult r = run_xdktool({"remove", kit, catalog.path()}, asOther);
  chmod((catalog / "b").c_str(), 0755);
  if (r.status != 1 && r.err.find("setpriv") != std::string::npos) GTEST_SKIP() << r.err;
  EXPECT_EQ(1, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find(catalog / "b/three.tpl")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("is unchanged")) << r.err;
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
}

}  // namespace
