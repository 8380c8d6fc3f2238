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

  // Stages entry 0 as `leaf` in `folder` and puts it in place.
  Status place(const std::string& folder, const std::string& leaf, wstring& temporary) {
    auto directory = std::make_shared<Directory>();
    Status status = Directory::open(widen_lib(folder), *directory);
    StagedFile staged;
    if (status.ok()) {
      status = stage_entry(directory, widen_lib(leaf), kit, 0,
                           [&temporary](const wstring& name) {
                             temporary = name;
                             return Status();
                           },
                           staged);
    }
    if (status.ok()) status = put_in_place(staged);
    return status;
  }

  Sandbox sandbox;
  KitReader kit;
};

TEST_F(FilePlacement, TheNewFileReplacesTheOldNameWholeAndLeavesTheOldInodeAlone) {
  write_file(sandbox.work("t.bin"), "old", 1000);
  ASSERT_EQ(0, ::link(sandbox.work("t.bin").c_str(), sandbox.work("second-name").c_str()));
  wstring temporary;
  ASSERT_TRUE(place(sandbox.work(), "t.bin", temporary).ok());
  EXPECT_TRUE(is_hidden_temporary_name(narrow_lib(temporary)));
  EXPECT_EQ(std::string(64 * 1024, 'k'), read_file(sandbox.work("t.bin")));
  EXPECT_EQ(1700000000, get_mtime(sandbox.work("t.bin")));
  EXPECT_EQ("old", read_file(sandbox.work("second-name")));
  EXPECT_FALSE(file_exists(sandbox.work(narrow_lib(temporary))));
}

TEST_F(FilePlacement, AVetoedOrFailedPlacementLeavesTheFolderAsItWas) {
  auto work = std::make_shared<Directory>();
  ASSERT_TRUE(Directory::open(widen_lib(sandbox.work()), *work).ok());
  StagedFile staged;
  const Status vetoed = stage_entry(work, u"t.bin", kit, 0,
                                    [](const wstring&) { return error_status(kErrorDiskFull); },
                                    staged);
  EXPECT_EQ(kErrorDiskFull, vetoed.code);
  EXPECT_EQ(std::vector<std::string>{"kit.xdk"}, list_dir(sandbox.work()));

  SmallTmpfs full(sandbox.work("full"), 16 * 1024);
  if (!full.ok()) GTEST_SKIP() << full.reason();
  write_file(full.path("t.bin"), "old", 1000);
  wstring temporary;
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
  wstring temporary;
  const Status status = place(locked.path(), "t.bin", temporary);
  EXPECT_EQ(kErrorAccessDenied, status.code);
  const int expected = ::geteuid() == 0 ? EROFS : EACCES;
  EXPECT_EQ(expected, status.systemError);
  EXPECT_NE(wstring::npos, describe_status(status).find(widen_lib(std::strerror(expected))));
}

}  // namespace
