// Temporary files: exclusive creation in the directory asked for. The test
// binary supplies its own getrandom (the library links against it instead
// of the C library's) so that a test can predict the next name and plant a
// file or a link there first; unarmed, it is the real system call.
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "tests/support/file_io.h"
#include "tests/support/sandbox.h"
#include "tests/support/small_tmpfs.h"

namespace {

using test_support::Sandbox;
using test_support::UnwritableDir;
using test_support::file_exists;
using test_support::read_file;
using test_support::write_file;

enum class RandomMode { kReal, kCounting, kConstant, kFailing };
std::atomic<RandomMode> g_randomMode{RandomMode::kReal};
std::atomic<unsigned> g_randomCounter{0};

}  // namespace

// kCounting: the n-th call fills every byte with n (0 gives "AAAAAA",
// 1 "BBBBBB", ...); kConstant: always zeros; kFailing: no entropy.
extern "C" ssize_t getrandom(void* buffer, size_t length, unsigned int flags) {
  switch (g_randomMode.load()) {
    case RandomMode::kReal:
      return syscall(SYS_getrandom, buffer, length, flags);
    case RandomMode::kCounting:
      std::memset(buffer, static_cast<int>(g_randomCounter++ & 0xFF), length);
      return static_cast<ssize_t>(length);
    case RandomMode::kConstant:
      std::memset(buffer, 0, length);
      return static_cast<ssize_t>(length);
    case RandomMode::kFailing:
      break;
  }
  errno = ENOSYS;
  return -1;
}

namespace {

class TempFileName : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(box.ok()); }
  void TearDown() override { g_randomMode = RandomMode::kReal; }
  void predictable(RandomMode mode) {
    g_randomCounter = 0;
    g_randomMode = mode;
  }
  Sandbox box{"."};
};

bool is_link(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}


TEST_F(TempFileName, CreatesAFreshPrivateFileInTheGivenDirectory) {
  // TMPDIR names another existing directory; it must not redirect the file.
  ASSERT_EQ(mkdir(box.path("target").c_str(), 0700), 0);
  wstring name;
  ASSERT_EQ(FileSystem::GetTempFileName(box.wpath("target"), u"edf", name), 0u);
  std::string narrow = narrow_lib(name);
  const std::string dir = box.path("target/");
  ASSERT_EQ(narrow.compare(0, dir.size(), dir), 0) << narrow;
  std::string base = narrow.substr(dir.size());
  ASSERT_EQ(base.size(), 9u) << base;
  EXPECT_EQ(base.substr(0, 3), "edf");
  for (char c : base.substr(3)) EXPECT_TRUE(isalnum(static_cast<unsigned char>(c))) << base;

  struct stat info;
  ASSERT_EQ(lstat(narrow.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(info.st_size, 0);
}

TEST_F(TempFileName, PrefixIsCutToFiveUnitsAndDefaults) {
  wstring name;
  ASSERT_EQ(FileSystem::GetTempFileName(box.wpath("tmp/"), u"abcdefgh", name), 0u);
  // A trailing "/" on the directory does not double the separator.
  std::string dir = box.path("tmp/");
  std::string narrow = narrow_lib(name);
  EXPECT_EQ(narrow.find("//"), std::string::npos) << narrow;
  EXPECT_EQ(narrow.substr(dir.size(), 5), "abcde");
  EXPECT_EQ(narrow.size(), dir.size() + 11);

  // Five units of a non-ASCII prefix stay whole characters.
  ASSERT_EQ(FileSystem::GetTempFileName(box.wpath("tmp"), u"ЖЖЖЖЖЖЖ", name), 0u);
  EXPECT_EQ(name.substr(box.wpath("tmp/").size(), 5), u"ЖЖЖЖЖ");
  EXPECT_EQ(name.size(), box.wpath("tmp/").size() + 11);

  ASSERT_EQ(FileSystem::GetTempFileName(box.wpath("tmp"), u"", name), 0u);
  EXPECT_EQ(narrow_lib(name).substr(dir.size(), 4), "file");
}

TEST_F(TempFileName, NeverHandsOutAnExistingName) {
  // Many names in one directory: each call creates a new file, so the
  // number of files grows by one every time.
  std::vector<std::string> names;
  for (int i = 0; i < 200; ++i) {
    wstring name;
    ASSERT_EQ(FileSystem::GetTempFileName(box.wpath("tmp"), u"Qx", name), 0u);
    names.push_back(narrow_lib(name));
  }
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(box.path("tmp"))) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, names.size());
}

TEST_F(TempFileName, MissingOrNonDirectoryGives1013AndNoName) {
  wstring name = u"stale";
  EXPECT_EQ(FileSystem::GetTempFileName(box.wpath("missing"), u"edf", name), 1013u);
  EXPECT_EQ(name, u"");
  write_file(box.path("plain"), "x");
  EXPECT_EQ(FileSystem::GetTempFileName(box.wpath("plain"), u"edf", name), 1013u);
  EXPECT_EQ(FileSystem::GetTempFileName(u"", u"edf", name), 1013u);
  EXPECT_FALSE(file_exists(box.path("missing")));
  // Nothing went to TMPDIR instead.
  EXPECT_TRUE(std::filesystem::is_empty(box.path("tmp")));
}

TEST_F(TempFileName, UnwritableDirectoryGives1013) {
  UnwritableDir unwritable(box.path("ro"));
  if (unwritable.path().empty()) GTEST_SKIP() << "no unwritable directory: " << unwritable.why();
  const std::string& dir = unwritable.path();
  wstring name = u"stale";
  EXPECT_EQ(FileSystem::GetTempFileName(widen_lib(dir), u"edf", name), 1013u);
  EXPECT_EQ(name, u"");
  // procfs, too, accepts no new files (it answers ENOENT, not EACCES).
  if (access("/proc/self", F_OK) == 0) {
    EXPECT_EQ(FileSystem::GetTempFileName(u"/proc/self", u"edf", name), 1013u);
  }
}

TEST_F(TempFileName, APlantedLinkOnTheNextNameIsNeverFollowed) {
  write_file(box.path("victim"), "keep");
  const std::string first = box.path("tmp/aAAAAAA");
  ASSERT_EQ(symlink(box.path("victim").c_str(), first.c_str()), 0);
  // A dangling link would make a non-exclusive open create its target.
  const std::string second = box.path("tmp/aBBBBBB");
  ASSERT_EQ(symlink(box.path("created-through-link").c_str(), second.c_str()), 0);

  predictable(RandomMode::kCounting);
  wstring name;
  ASSERT_EQ(FileSystem::GetTempFileName(box.wpath("tmp"), u"a", name), 0u);
  EXPECT_EQ(name, box.wpath("tmp/aCCCCCC"));
  EXPECT_TRUE(is_link(first));
  EXPECT_TRUE(is_link(second));
  EXPECT_EQ(read_file(box.path("victim")), "keep");
  EXPECT_FALSE(file_exists(box.path("created-through-link")));
  struct stat info;
  ASSERT_EQ(lstat(narrow_lib(name).c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
}

TEST_F(TempFileName, AnExistingFileOnTheNextNameIsLeftAlone) {
  write_file(box.path("tmp/edfAAAAAA"), "someone else's");
  predictable(RandomMode::kCounting);
  wstring name;
  ASSERT_EQ(FileSystem::GetTempFileName(box.wpath("tmp"), u"edf", name), 0u);
  EXPECT_EQ(name, box.wpath("tmp/edfBBBBBB"));
  EXPECT_EQ(read_file(box.path("tmp/edfAAAAAA")), "someone else's");
}

TEST_F(TempFileName, GivesUpWith1013WhenEveryNameIsTaken) {
  write_file(box.path("tmp/edfAAAAAA"), "taken");
  predictable(RandomMode::kConstant);
  wstring name = u"stale";
  EXPECT_EQ(FileSystem::GetTempFileName(box.wpath("tmp"), u"edf", name), 1013u);
  EXPECT_EQ(name, u"");
  EXPECT_EQ(read_file(box.path("tmp/edfAAAAAA")), "taken");
}

TEST_F(TempFileName, WorksWithoutAnEntropySource) {
  predictable(RandomMode::kFailing);
  wstring first, second;
  ASSERT_EQ(FileSystem::GetTempFileName(box.wpath("tmp"), u"edf", first), 0u);
  ASSERT_EQ(FileSystem::GetTempFileName(box.wpath("tmp"), u"edf", second), 0u);
  EXPECT_NE(first, second);
  for (const wstring& name : {first, second}) {
    std::string base = narrow_lib(name).substr(box.path("tmp/").size());
    ASSERT_EQ(base.size(), 9u);
    for (char c : base.substr(3)) EXPECT_TRUE(isalnum(static_cast<unsigned char>(c))) << base;
    EXPECT_TRUE(file_exists(narrow_lib(name)));
  }
}

}  // namespace
