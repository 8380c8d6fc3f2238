// Directory and file operations (create, remove, move, delete) on the real
// file system: their results, their effect, names that a shell would act
// on, links that must not be followed, and moves across file systems.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_finder.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "tests/platform/hostile_names.h"
#include "tests/support/child_process.h"
#include "tests/support/file_io.h"
#include "tests/support/sandbox.h"
#include "tests/support/small_tmpfs.h"

namespace {

using test_support::ChildOptions;
using test_support::Sandbox;
using test_support::SmallTmpfs;
using test_support::file_exists;
using test_support::is_dir;
using test_support::make_temp_dir;
using test_support::read_file;
using test_support::run_function;
using test_support::write_file;


class FileOperations : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(box.ok()); }
  // No shell ran anything: neither in the working directory nor in HOME.
  void expectNoShellRan() {
    EXPECT_FALSE(file_exists(box.path("PWNED")));
    EXPECT_FALSE(file_exists(box.path("home/PWNED")));
  }
  // The directory "open", where a child run as another user may work;
  // true when children should change user.
  bool makeOpenDirectory() {
    const bool asNobody = geteuid() == 0;
    EXPECT_EQ(chmod(box.root().c_str(), 0711), 0);
    EXPECT_EQ(mkdir(box.path("open").c_str(), 0777), 0);
    EXPECT_EQ(chmod(box.path("open").c_str(), 0777), 0);
    return asNobody;
  }
  // The exit status of `body` run in a child process, as the other user
  // when `asNobody` (limits, umask and ids stay in the child).
  static int inChild(bool asNobody, const std::function<int()>& body) {
    ChildOptions options;
    options.asOtherUser = asNobody;
    return run_function(body, options).status;
  }
  Sandbox box{"."};
};

// --- Names without an exact system name --------------------------------------

// A lone surrogate once became "?" on its way to the system, so DeleteFile
// removed the user's "x?" and CreateFile opened "y?". Every operation now
// refuses such a name with 123 and touches nothing.
TEST_F(FileOperations, ANameWithALoneSurrogateIsRefusedWith123AndTouchesNothing) {
  write_file(box.path("x?"), "keep x");
  write_file(box.path("y?"), "keep y");
  ASSERT_EQ(mkdir(box.path("z?").c_str(), 0700), 0);
  const wstring x = box.wpath("x") + u'\xD800';
  const wstring y = box.wpath("y") + u'\xDFFF';
  const wstring z = box.wpath("z") + u'\xD800';
  EXPECT_EQ(FileSystem::DeleteFile(x), 123u);
  void* handle = kInvalidHandleValue;
  EXPECT_EQ(FileSystem::CreateFile(y, kGenericWrite, 0, kCreateAlways, handle), 123u);
  EXPECT_EQ(FileSystem::GetLastError(), 123u);
  EXPECT_EQ(handle, kInvalidHandleValue);
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("x?"), y), 123u);
  EXPECT_EQ(FileSystem::MoveFile(x, box.wpath("moved")), 123u);
  EXPECT_EQ(FileSystem::CreateDirectory(z + u"/sub"), 123u);
  EXPECT_EQ(FileSystem::RemoveDirectory(z), 123u);
  unsigned size = 0;
  EXPECT_EQ(FileSystem::GetFileSize(y, &size), 1u);
  EXPECT_FALSE(FileFinder().reset(x));

  EXPECT_EQ(read_file(box.path("x?")), "keep x");
  EXPECT_EQ(read_file(box.path("y?")), "keep y");
  EXPECT_TRUE(is_dir(box.path("z?")));
  EXPECT_FALSE(file_exists(box.path("z?/sub")));
  EXPECT_FALSE(file_exists(box.path("moved")));
}

// --- CreateDirectory ---------------------------------------------------------

TEST_F(FileOperations, CreateDirectoryReports183ForAnExistingDirectory) {
  ASSERT_EQ(mkdir(box.path("d").c_str(), 0700), 0);
  EXPECT_EQ(FileSystem::CreateDirectory(box.wpath("d")), 183u);
  EXPECT_EQ(FileSystem::CreateDirectory(box.wpath("d/")), 183u);
  ASSERT_EQ(symlink("d", box.path("link").c_str()), 0);
  EXPECT_EQ(FileSystem::CreateDirectory(box.wpath("link")), 183u);
}

TEST_F(FileOperations, CreateDirectoryMakesEveryMissingLevel) {
  ASSERT_EQ(mkdir(box.path("p").c_str(), 0700), 0);
  EXPECT_EQ(FileSystem::CreateDirectory(box.wpath("p/q/r")), 0u);
  EXPECT_TRUE(is_dir(box.path("p/q")));
  EXPECT_TRUE(is_dir(box.path("p/q/r")));
  EXPECT_EQ(FileSystem::CreateDirectory(box.wpath("p/q/r")), 183u);
  // Doubled and trailing separators, relative paths.
  EXPECT_EQ(FileSystem::CreateDirectory(box.wpath("x//y/")), 0u);
  EXPECT_TRUE(is_dir(box.path("x/y")));
  EXPECT_EQ(FileSystem::CreateDirectory(u"rel/a"), 0u);
  EXPECT_TRUE(is_dir(box.path("rel/a")));
}

TEST_F(FileOperations, CreateDirectoryBelowOrOnAFileGives2) {
  write_file(box.path("f"), "x");
  EXPECT_EQ(FileSystem::CreateDirectory(box.wpath("f/sub")), 2u);
  EXPECT_EQ(FileSystem::CreateDirectory(box.wpath("f/sub/deeper")), 2u);
  EXPECT_EQ(FileSystem::CreateDirectory(box.wpath("f")), 2u);
  EXPECT_EQ(FileSystem::CreateDirectory(u""), 2u);
  EXPECT_EQ(read_file(box.path("f")), "x");
  // A failure after a parent was made: nobody would ever remove that parent.
  EXPECT_EQ(FileSystem::CreateDirectory(box.wpath("made/" + std::string(NAME_MAX + 1, 'n'))), 2u);
  EXPECT_FALSE(file_exists(box.path("made")));
}

// mkdir -p gives the parents it makes owner write and search whatever the
// umask, or it could not go on below them; the last level keeps the umask.
TEST_F(FileOperations, CreateDirectoryParentsStayUsableUnderAnyUmask) {
  const bool asNobody = makeOpenDirectory();
  const int status = inChild(asNobody, [&] {
    umask(0277);
    return static_cast<int>(FileSystem::CreateDirectory(box.wpath("open/a/b/c")));
  });
  if (status == test_support::kCannotSwitchUser) GTEST_SKIP() << "cannot switch to uid 65534";
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(is_dir(box.path("open/a/b/c")));
  struct stat info;
  ASSERT_EQ(stat(box.path("open/a/b/c").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0500u);
}

TEST_F(FileOperations, CreateDirectoryRaceHasExactlyOneCreator) {
  // The journal counts on 0 meaning "made by this call": when threads race
  // for one path, only one of them may say so.
  for (int round = 0; round < 10; ++round) {
    wstring target = box.wpath("race" + std::to_string(round) + "/a/b/c");
    std::vector<unsigned> results(6);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i) {
      threads.emplace_back([&, i] { results[i] = FileSystem::CreateDirectory(target); });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(std::count(results.begin(), results.end(), 0u), 1) << round;
    EXPECT_EQ(std::count(results.begin(), results.end(), 183u), 5) << round;
  }
}

// --- RemoveDirectory ---------------------------------------------------------

TEST_F(FileOperations, RemoveDirectoryRemovesAWholeTree) {
  ASSERT_EQ(FileSystem::CreateDirectory(box.wpath("t/a/b/c")), 0u);
  write_file(box.path("t/f"), "1");
  write_file(box.path("t/.hidden"), "2");
  write_file(box.path("t/a/b/c/deep"), "3");
  write_file(box.path("t/a/ro"), "4");
  ASSERT_EQ(chmod(box.path("t/a/ro").c_str(), 0400), 0);
  EXPECT_EQ(FileSystem::RemoveDirectory(box.wpath("t")), 0u);
  EXPECT_FALSE(file_exists(box.path("t")));
}

TEST_F(FileOperations, RemoveDirectoryOfAMissingPathOrAFile) {
  EXPECT_EQ(FileSystem::RemoveDirectory(box.wpath("missing")), 0u);
  EXPECT_EQ(FileSystem::RemoveDirectory(u""), 0u);
  write_file(box.path("f"), "x");
  EXPECT_EQ(FileSystem::RemoveDirectory(box.wpath("f")), 0u);
  EXPECT_FALSE(file_exists(box.path("f")));
}

TEST_F(FileOperations, RemoveDirectoryNeverFollowsALink) {
  ASSERT_EQ(FileSystem::CreateDirectory(box.wpath("outside/sub")), 0u);
  write_file(box.path("outside/precious"), "keep");
  write_file(box.path("outside/sub/also"), "keep");
  ASSERT_EQ(FileSystem::CreateDirectory(box.wpath("tree/inner")), 0u);
  ASSERT_EQ(symlink(box.path("outside").c_str(), box.path("tree/inner/link").c_str()), 0);
  ASSERT_EQ(symlink(box.path("outside/precious").c_str(), box.path("tree/filelink").c_str()), 0);

  EXPECT_EQ(FileSystem::RemoveDirectory(box.wpath("tree")), 0u);
  EXPECT_FALSE(file_exists(box.path("tree")));
  EXPECT_EQ(read_file(box.path("outside/precious")), "keep");
  EXPECT_EQ(read_file(box.path("outside/sub/also")), "keep");
}

TEST_F(FileOperations, RemoveDirectoryGivenALinkRemovesOnlyTheLink) {
  ASSERT_EQ(FileSystem::CreateDirectory(box.wpath("outside")), 0u);
  write_file(box.path("outside/precious"), "keep");
  ASSERT_EQ(symlink(box.path("outside").c_str(), box.path("l1").c_str()), 0);
  ASSERT_EQ(symlink(box.path("outside").c_str(), box.path("l2").c_str()), 0);
  EXPECT_EQ(FileSystem::RemoveDirectory(box.wpath("l1")), 0u);
  // With a trailing "/" the path still names the link, not its target.
  EXPECT_EQ(FileSystem::RemoveDirectory(box.wpath("l2/")), 0u);
  EXPECT_FALSE(file_exists(box.path("l1")));
  EXPECT_FALSE(file_exists(box.path("l2")));
  EXPECT_EQ(read_file(box.path("outside/precious")), "keep");
}

TEST_F(FileOperations, RemoveDirectoryRefusesDotAndDotDot) {
  ASSERT_EQ(FileSystem::CreateDirectory(box.wpath("d/sub")), 0u);
  write_file(box.path("d/sub/f"), "x");
  EXPECT_EQ(FileSystem::RemoveDirectory(u"."), 0u);
  EXPECT_EQ(FileSystem::RemoveDirectory(box.wpath("d/sub/..")), 0u);
  EXPECT_EQ(FileSystem::RemoveDirectory(box.wpath("d/.")), 0u);
  EXPECT_EQ(read_file(box.path("d/sub/f")), "x");
}

// Deeper than the descriptors a process may hold: the walk must not keep
// one per level. In a child, so that the limit stays there.
TEST_F(FileOperations, RemoveDirectoryHandlesADeepTree) {
  std::string deep = "deep";
  for (int i = 0; i < 400; ++i) deep += "/n";
  ASSERT_EQ(FileSystem::CreateDirectory(box.wpath(deep)), 0u);
  write_file(box.path(deep + "/leaf"), "x");
  write_file(box.path("deep/n/n/side"), "x");
  const int status = inChild(false, [&] {
    struct rlimit limit = {256, 256};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 99;
    return static_cast<int>(FileSystem::RemoveDirectory(box.wpath("deep")));
  });
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(file_exists(box.path("deep")));
}

// What cannot be removed is reported, and everything else still goes.
TEST_F(FileOperations, RemoveDirectoryReportsWhatItCouldNotRemove) {
  const bool asNobody = makeOpenDirectory();
  const int status = inChild(asNobody, [&] {
    if (FileSystem::CreateDirectory(box.wpath("open/t/locked")) != 0) return 98;
    write_file(box.path("open/t/locked/kept"), "x");
    write_file(box.path("open/t/gone"), "x");
    chmod(box.path("open/t/locked").c_str(), 0500);
    return static_cast<int>(FileSystem::RemoveDirectory(box.wpath("open/t")));
  });
  if (status == test_support::kCannotSwitchUser) GTEST_SKIP() << "cannot switch to uid 65534";
  EXPECT_EQ(status, 145);
  EXPECT_TRUE(file_exists(box.path("open/t/locked/kept")));
  EXPECT_FALSE(file_exists(box.path("open/t/gone")));
}

// --- DeleteFile ----------------------------------------------------------------

TEST_F(FileOperations, DeleteFileRemovesFilesAndLinksOnly) {
  EXPECT_EQ(FileSystem::DeleteFile(box.wpath("missing")), 0u);
  write_file(box.path("f"), "x");
  EXPECT_EQ(FileSystem::DeleteFile(box.wpath("f")), 0u);
  EXPECT_FALSE(file_exists(box.path("f")));

  write_file(box.path("target"), "keep");
  ASSERT_EQ(symlink("target", box.path("link").c_str()), 0);
  EXPECT_EQ(FileSystem::DeleteFile(box.wpath("link")), 0u);
  EXPECT_FALSE(file_exists(box.path("link")));
  EXPECT_EQ(read_file(box.path("target")), "keep");

  ASSERT_EQ(FileSystem::CreateDirectory(box.wpath("dir")), 0u);
  write_file(box.path("dir/f"), "keep");
  EXPECT_EQ(FileSystem::DeleteFile(box.wpath("dir")), 0u);
  EXPECT_EQ(read_file(box.path("dir/f")), "keep");
}

// --- MoveFile ------------------------------------------------------------------

TEST_F(FileOperations, MoveFileOfAMissingSourceGives2) {
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("missing"), box.wpath("dst")), 2u);
  EXPECT_FALSE(file_exists(box.path("dst")));
}

TEST_F(FileOperations, MoveFileReplacesAnExistingFile) {
  write_file(box.path("new"), "new content");
  write_file(box.path("old"), "old");
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("new"), box.wpath("old")), 0u);
  EXPECT_FALSE(file_exists(box.path("new")));
  EXPECT_EQ(read_file(box.path("old")), "new content");
}

TEST_F(FileOperations, MoveFileRenamesADirectoryTree) {
  ASSERT_EQ(FileSystem::CreateDirectory(box.wpath("a/b")), 0u);
  write_file(box.path("a/b/f"), "x");
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("a"), box.wpath("renamed")), 0u);
  EXPECT_FALSE(file_exists(box.path("a")));
  EXPECT_EQ(read_file(box.path("renamed/b/f")), "x");
}

TEST_F(FileOperations, MoveFileIntoAnExistingDirectory) {
  ASSERT_EQ(FileSystem::CreateDirectory(box.wpath("dest")), 0u);
  write_file(box.path("f"), "x");
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("f"), box.wpath("dest")), 0u);
  EXPECT_EQ(read_file(box.path("dest/f")), "x");
  ASSERT_EQ(FileSystem::CreateDirectory(box.wpath("tree/sub")), 0u);
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("tree"), box.wpath("dest/")), 0u);
  EXPECT_TRUE(is_dir(box.path("dest/tree/sub")));
}

TEST_F(FileOperations, MoveFileFailuresGive2AndKeepTheSource) {
  write_file(box.path("f"), "keep");
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("f"), box.wpath("missing/dir/f")), 2u);
  // Onto itself: mv refuses, and the file must survive.
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("f"), box.wpath("f")), 2u);
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("f"), box.wpath("./f")), 2u);
  // A directory into its own subdirectory.
  ASSERT_EQ(FileSystem::CreateDirectory(box.wpath("d/sub")), 0u);
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("d"), box.wpath("d/sub")), 2u);
  // A directory onto a file.
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("d"), box.wpath("f")), 2u);
  EXPECT_EQ(read_file(box.path("f")), "keep");
  EXPECT_TRUE(is_dir(box.path("d/sub")));
}

TEST_F(FileOperations, MoveFileMovesALinkAsItself) {
  write_file(box.path("target"), "x");
  ASSERT_EQ(symlink("target", box.path("link").c_str()), 0);
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("link"), box.wpath("moved")), 0u);
  struct stat info;
  ASSERT_EQ(lstat(box.path("moved").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(read_file(box.path("target")), "x");
}

// --- Names a shell would act on --------------------------------------------------

TEST_F(FileOperations, EveryOperationTakesHostileNamesLiterally) {
  for (const char* hostile : kHostileNames) {
    SCOPED_TRACE(hostile);
    const std::string name = hostile;
    const wstring wname = widen_lib(name);  // relative: a leading "-" stays leading

    ASSERT_EQ(FileSystem::CreateDirectory(wname), 0u);
    ASSERT_TRUE(is_dir(box.path(name)));
    EXPECT_EQ(FileSystem::CreateDirectory(wname), 183u);
    ASSERT_EQ(FileSystem::CreateDirectory(wname + u"/" + wname), 0u);
    ASSERT_TRUE(is_dir(box.path(name + "/" + name)));

    void* handle = kInvalidHandleValue;
    const wstring file = wname + u"/" + wname + u"/" + wname;
    ASSERT_EQ(FileSystem::CreateFile(file, kGenericWrite, 0, kCreateAlways, handle), 0u);
    unsigned written = 0;
    EXPECT_EQ(FileSystem::WriteFile(handle, "data", 4, &written, nullptr), 0u);
    FileSystem::CloseHandle(handle);
    unsigned size = 0;
    EXPECT_EQ(FileSystem::GetFileSize(file, &size), 0u);
    EXPECT_EQ(size, 4u);

    FileFinder finder;
    EXPECT_TRUE(finder.reset(file));
    EXPECT_EQ(finder.name(), wname);

    wstring temp;
    ASSERT_EQ(FileSystem::GetTempFileName(wname, wname, temp), 0u);
    const wstring expectedStart = wname + u"/" + wname.substr(0, 5);
    EXPECT_EQ(temp.substr(0, expectedStart.size()), expectedStart);
    EXPECT_EQ(temp.size(), expectedStart.size() + 6);
    EXPECT_TRUE(file_exists(narrow_lib(temp)));
    EXPECT_EQ(FileSystem::DeleteFile(temp), 0u);
    EXPECT_FALSE(file_exists(narrow_lib(temp)));

    const wstring moved = wname + u".moved";
    EXPECT_EQ(FileSystem::MoveFile(file, moved), 0u);
    EXPECT_EQ(read_file(box.path(name + ".moved")), "data");
    EXPECT_EQ(FileSystem::MoveFile(moved, wname + u"/" + wname), 0u);  // into the directory
    EXPECT_EQ(read_file(box.path(name + "/" + name + "/" + name + ".moved")), "data");

    EXPECT_EQ(FileSystem::DeleteFile(wname + u"/" + wname + u"/" + moved), 0u);
    EXPECT_FALSE(file_exists(box.path(name + "/" + name + "/" + name + ".moved")));
    EXPECT_EQ(FileSystem::RemoveDirectory(wname), 0u);
    EXPECT_FALSE(file_exists(box.path(name)));
    expectNoShellRan();
  }
  // Nothing but the sandbox's own directories is left in it.
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(box.root())) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"home", "tmp", "work"}));
}

// --- Across file systems --------------------------------------------------------

// A second scratch directory on another file system than the sandbox
// (memory-backed /dev/shm versus the disk under /tmp), removed at the end.
class OtherFileSystem {
 public:
  explicit OtherFileSystem(const std::string& sandbox) {
    struct stat shm, disk;
    if (stat("/dev/shm", &shm) != 0 || stat(sandbox.c_str(), &disk) != 0) return;
    if (shm.st_dev == disk.st_dev || access("/dev/shm", W_OK) != 0) return;
    m_root = make_temp_dir("/dev/shm", "qxr8-platform-");
  }
  ~OtherFileSystem() {
    if (!m_root.empty()) test_support::remove_tree(m_root);
  }
  bool ok() const { return !m_root.empty(); }
  std::string path(const std::string& relative) const { return m_root + "/" + relative; }
  wstring wpath(const std::string& relative) const { return widen_lib(path(relative)); }
  const std::string& root() const { return m_root; }

 private:
  std::string m_root;
};

std::string binary_content() {
  std::string content;
  for (int i = 0; i < 200000; ++i) content.push_back(static_cast<char>((i * 7919) % 256));
  return content;
}

void make_file(const std::string& path, const std::string& content, mode_t mode, time_t mtime) {
  write_file(path, content);
  chmod(path.c_str(), mode);
  struct timeval times[2] = {{mtime, 0}, {mtime, 0}};
  utimes(path.c_str(), times);
}

void expect_file(const std::string& path, const std::string& content, mode_t mode, time_t mtime) {
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0) << path;
  EXPECT_EQ(info.st_mode & 07777, mode) << path;
  EXPECT_EQ(info.st_mtime, mtime) << path;
  EXPECT_EQ(read_file(path), content) << path;
}

class CrossDevice : public FileOperations {
 protected:
  void SetUp() override {
    FileOperations::SetUp();
    if (!other.ok()) GTEST_SKIP() << "/dev/shm is missing or on the sandbox's file system";
  }
  OtherFileSystem other{box.root()};
};

TEST_F(CrossDevice, MoveKeepsBytesModeAndTimeBothWays) {
  const std::string content = binary_content();
  make_file(other.path("f"), content, 0640, 1234567890);
  const struct timespec times[2] = {{1234567000, 123456789}, {1234567890, 987654321}};
  ASSERT_EQ(utimensat(AT_FDCWD, other.path("f").c_str(), times, 0), 0);
  EXPECT_EQ(FileSystem::MoveFile(other.wpath("f"), box.wpath("f")), 0u);
  EXPECT_FALSE(file_exists(other.path("f")));
  struct stat info;  // before reading it, which may change the access time
  ASSERT_EQ(stat(box.path("f").c_str(), &info), 0);
  EXPECT_EQ(info.st_atim.tv_sec, 1234567000);
  EXPECT_EQ(info.st_atim.tv_nsec, 123456789);
  EXPECT_EQ(info.st_mtim.tv_nsec, 987654321);
  expect_file(box.path("f"), content, 0640, 1234567890);

  ASSERT_EQ(chmod(box.path("f").c_str(), 0604), 0);
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("f"), other.wpath("back")), 0u);
  EXPECT_FALSE(file_exists(box.path("f")));
  expect_file(other.path("back"), content, 0604, 1234567890);
}

TEST_F(CrossDevice, MoveReplacesAFileAndCarriesATree) {
  make_file(other.path("f"), "new", 0600, 1000000000);
  write_file(box.path("f"), "old content that is longer");
  EXPECT_EQ(FileSystem::MoveFile(other.wpath("f"), box.wpath("f")), 0u);
  expect_file(box.path("f"), "new", 0600, 1000000000);

  ASSERT_EQ(FileSystem::CreateDirectory(other.wpath("tree/sub")), 0u);
  make_file(other.path("tree/sub/leaf"), "leaf", 0644, 1100000000);
  EXPECT_EQ(FileSystem::MoveFile(other.wpath("tree"), box.wpath("tree")), 0u);
  EXPECT_FALSE(file_exists(other.path("tree")));
  expect_file(box.path("tree/sub/leaf"), "leaf", 0644, 1100000000);
}

TEST_F(CrossDevice, FailedMoveGives2AndKeepsTheSource) {
  make_file(other.path("f"), "keep", 0600, 1000000000);
  EXPECT_EQ(FileSystem::MoveFile(other.wpath("f"), box.wpath("missing/f")), 2u);
  expect_file(other.path("f"), "keep", 0600, 1000000000);
}

// The move is made in the process: with no program to be found it works all
// the same.
TEST_F(CrossDevice, MoveStartsNoProgram) {
  make_file(other.path("f"), "moved", 0600, 1000000000);
  const char* path = getenv("PATH");
  std::string saved = path != nullptr ? path : "";
  setenv("PATH", box.path("home").c_str(), 1);  // no program there
  unsigned result = FileSystem::MoveFile(other.wpath("f"), box.wpath("f"));
  setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(result, 0u);
  expect_file(box.path("f"), "moved", 0600, 1000000000);
  EXPECT_FALSE(file_exists(other.path("f")));
}

TEST_F(CrossDevice, MoveCarriesALinkAsItself) {
  ASSERT_EQ(symlink("nowhere/at all", other.path("link").c_str()), 0);
  EXPECT_EQ(FileSystem::MoveFile(other.wpath("link"), box.wpath("link")), 0u);
  char text[64] = {};
  ASSERT_EQ(readlink(box.path("link").c_str(), text, sizeof text - 1), 14);
  EXPECT_STREQ(text, "nowhere/at all");
  struct stat info;
  EXPECT_NE(lstat(other.path("link").c_str(), &info), 0);
}

TEST_F(CrossDevice, MoveKeepsTheOwnerWhereAllowed) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
  make_file(other.path("f"), "x", 0644, 1000000000);
  ASSERT_EQ(chown(other.path("f").c_str(), 65534, 65534), 0);
  EXPECT_EQ(FileSystem::MoveFile(other.wpath("f"), box.wpath("f")), 0u);
  struct stat info;
  ASSERT_EQ(stat(box.path("f").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 65534u);
  EXPECT_EQ(info.st_gid, 65534u);
}

TEST_F(CrossDevice, HostileNamesAreTakenLiterally) {
  // Relative names from inside the other file system: a leading "-" must
  // not become an option of the tool.
  ASSERT_EQ(chdir(other.root().c_str()), 0);
  for (const char* hostile : kHostileNames) {
    SCOPED_TRACE(hostile);
    const std::string name = hostile;
    make_file(other.path(name), name, 0640, 1200000000);
    const std::string target = name + ".moved";
    EXPECT_EQ(FileSystem::MoveFile(widen_lib(name), box.wpath(target)), 0u);
    EXPECT_FALSE(file_exists(other.path(name)));
    expect_file(box.path(target), name, 0640, 1200000000);
    EXPECT_FALSE(file_exists(other.path("PWNED")));
  }
  ASSERT_EQ(chdir(box.root().c_str()), 0);
  expectNoShellRan();
}

// A move into a file system that fills halfway through the copy: the file
// it was to replace stays exactly as it was, and no partial copy is left
// anywhere in its directory.
TEST_F(FileOperations, MoveIntoAFullFileSystemKeepsTheTarget) {
  SmallTmpfs small(box.path("small"), 1024 * 1024);
  if (!small.ok()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  make_file(small.path("f"), "the user's original", 0640, 1100000000);
  small.fillLeaving(64 * 1024);
  const std::string content = binary_content();  // larger than what is left
  make_file(box.path("new"), content, 0600, 1200000000);

  EXPECT_EQ(FileSystem::MoveFile(box.wpath("new"), widen_lib(small.path("f"))), 2u);
  expect_file(small.path("f"), "the user's original", 0640, 1100000000);
  expect_file(box.path("new"), content, 0600, 1200000000);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(box.path("small"))) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"f", "filler"}));
}

}  // namespace
