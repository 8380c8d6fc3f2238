// Putting an entry in place: complete content under the destination's name
// or nothing, whatever stops the placement.
#include "install/file_placement.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/random_name.h"
#include "platform/text_encoding.h"
#include "tests/support/file_io.h"
#include "tests/support/kit_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/small_tmpfs.h"

namespace {

using namespace test_support;

class FilePlacement : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sandbox.ok());
    ASSERT_EQ(0u, kit.open(widen_lib(make_kit(sandbox.work(), "kit",
                                              {{"big.bin", std::string(64 * 1024, 'k'), 1700000000}}))));
  }

  // Stages entry 0 in `stage` for `leaf` of `folder` and puts it there.
  Status place(const std::string& folder, const std::string& leaf, std::string& temporary,
               const std::string& stageFolder = "") {
    Directory directory;
    Directory stage;
    FileInfo info;
    Status status = Directory::open(widen_lib(folder), directory);
    if (status.ok()) status = Directory::open(widen_lib(stageFolder.empty() ? folder : stageFolder), stage);
    if (status.ok()) status = directory.info(info);
    StagedFile staged;
    if (status.ok()) status = stage_entry(stage, info, widen_lib(folder + "/" + leaf), kit, 0, staged);
    temporary = staged.temporary.bytes;
    if (status.ok()) status = put_in_place(staged, directory, SystemName{leaf}, false);
    return status;
  }

  Sandbox sandbox;
  KitReader kit;
};

TEST_F(FilePlacement, TheNewFileReplacesTheOldNameWholeAndLeavesTheOldInodeAlone) {
  write_file(sandbox.work("t.bin"), "old", 1000);
  ASSERT_EQ(0, ::link(sandbox.work("t.bin").c_str(), sandbox.work("second-name").c_str()));
  make_dirs(sandbox.work("stage"));
  std::string temporary;
  ASSERT_TRUE(place(sandbox.work(), "t.bin", temporary, sandbox.work("stage")).ok());
  EXPECT_TRUE(is_hidden_temporary_name(temporary));
  EXPECT_EQ(std::string(64 * 1024, 'k'), read_file(sandbox.work("t.bin")));
  EXPECT_EQ(1700000000, get_mtime(sandbox.work("t.bin")));
  EXPECT_EQ("old", read_file(sandbox.work("second-name")));
  EXPECT_TRUE(list_dir(sandbox.work("stage")).empty());
}

TEST_F(FilePlacement, NoReplaceNeverTakesATakenNameAndAFailedPlacementLeavesNothing) {
  write_file(sandbox.work("t.bin"), "old", 1000);
  Directory work;
  FileInfo info;
  ASSERT_TRUE(Directory::open(widen_lib(sandbox.work()), work).ok() && work.info(info).ok());
  StagedFile staged;
  ASSERT_TRUE(stage_entry(work, info, u"t.bin", kit, 0, staged).ok());
  EXPECT_EQ(kErrorAlreadyExists, put_in_place(staged, work, SystemName{"t.bin"}, true).code);
  EXPECT_EQ("old", read_file(sandbox.work("t.bin")));
  discard_staged(staged);
  EXPECT_EQ((std::vector<std::string>{"kit.xdk", "t.bin"}), list_dir(sandbox.work()));

  SmallTmpfs full(sandbox.work("full"), 16 * 1024);
  if (!full.ok()) GTEST_SKIP() << full.reason();
  write_file(full.path("t.bin"), "old", 1000);
  std::string temporary;
  const Status status = place(full.path(), "t.bin", temporary);
  EXPECT_EQ(kErrorDiskFull, status.code);
  EXPECT_EQ(ENOSPC, status.systemError);
  EXPECT_EQ(widen_lib(full.path("t.bin")), status.path);
  EXPECT_EQ(std::vector<std::string>{"t.bin"}, list_dir(full.path()));
  EXPECT_EQ("old", read_file(full.path("t.bin")));
}

TEST_F(FilePlacement, AReadOnlyFolderIsRefusedWithTheSystemsOwnReason) {
  UnwritableDir locked(sandbox.work("locked"));
  if (locked.path().empty()) GTEST_SKIP() << locked.why();
  std::string temporary;
  const Status status = place(locked.path(), "t.bin", temporary);
  EXPECT_EQ(kErrorAccessDenied, status.code);
  const int expected = ::geteuid() == 0 ? EROFS : EACCES;
  EXPECT_EQ(expected, status.systemError);
  EXPECT_NE(wstring::npos, describe_status(status).find(widen_lib(std::strerror(expected))));
}

}  // namespace
