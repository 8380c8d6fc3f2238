// Handles, reads, writes, positions, times, sizes and the temporary
// directory, against real files in a sandbox.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <string>

#include "platform/file_finder.h"
#include "platform/file_system.h"
#include "platform/status.h"
#include "platform/text_encoding.h"
#include "tests/support/child_process.h"
#include "tests/support/file_io.h"
#include "tests/support/sandbox.h"
#include "tests/support/small_tmpfs.h"

namespace {

using test_support::Sandbox;
using test_support::SmallTmpfs;
using test_support::UnwritableDir;
using test_support::file_exists;
using test_support::read_file;
using test_support::write_file;


class FileHandles : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(box.ok()); }
  void* open(const std::string& name, unsigned access, unsigned disposition) {
    void* handle = kInvalidHandleValue;
    EXPECT_EQ(FileSystem::CreateFile(box.wpath(name), access, 0, disposition, handle), 0u);
    return handle;
  }
  Sandbox box{"."};
};

TEST_F(FileHandles, OpeningAMissingFileForReadingGives2) {
  void* handle = kInvalidHandleValue;
  EXPECT_EQ(FileSystem::CreateFile(box.wpath("missing"), kGenericRead, 0, kOpenExisting, handle),
            2u);
  EXPECT_EQ(handle, kInvalidHandleValue);  // untouched on failure
  EXPECT_EQ(FileSystem::GetLastError(), 2u);
  EXPECT_EQ(FileSystem::GetLastSystemError(), ENOENT);
  // In a missing directory: 2 as well, and the reason is still the system's.
  EXPECT_EQ(FileSystem::CreateFile(box.wpath("missing/f"), kGenericWrite, 0, kCreateAlways, handle),
            2u);
  EXPECT_EQ(FileSystem::GetLastSystemError(), ENOENT);
}

TEST_F(FileHandles, CreatingInAReadOnlyDirectoryGives87) {
  UnwritableDir unwritable(box.path("ro"));
  if (unwritable.path().empty()) GTEST_SKIP() << "no unwritable directory: " << unwritable.why();
  const std::string& dir = unwritable.path();
  void* handle = kInvalidHandleValue;
  EXPECT_EQ(FileSystem::CreateFile(widen_lib(dir + "/qxr8-f"), kGenericWrite, 0, kCreateAlways,
                                   handle),
            87u);
  EXPECT_EQ(FileSystem::GetLastError(), 87u);
}

TEST_F(FileHandles, CreateFileOnADirectoryForWritingGives87) {
  // EISDIR: the errno rule maps everything but ENOENT to 87.
  ASSERT_EQ(mkdir(box.path("d").c_str(), 0700), 0);
  void* handle = kInvalidHandleValue;
  EXPECT_EQ(FileSystem::CreateFile(box.wpath("d"), kGenericWrite, 0, kCreateAlways, handle), 87u);
}

TEST_F(FileHandles, AccessMaskSelectsReadWriteMode) {
  write_file(box.path("f"), "abc");
  char c = 0;
  void* reader = open("f", kGenericRead, kOpenExisting);
  EXPECT_EQ(::write(static_cast<int>(reinterpret_cast<intptr_t>(reader)), "x", 1), -1);
  FileSystem::CloseHandle(reader);

  void* writer = open("f", kGenericWrite, kOpenExisting);
  EXPECT_EQ(::read(static_cast<int>(reinterpret_cast<intptr_t>(writer)), &c, 1), -1);
  FileSystem::CloseHandle(writer);

  void* both = open("f", kGenericRead | kGenericWrite, kOpenExisting);
  EXPECT_EQ(::read(static_cast<int>(reinterpret_cast<intptr_t>(both)), &c, 1), 1);
  EXPECT_EQ(::write(static_cast<int>(reinterpret_cast<intptr_t>(both)), "x", 1), 1);
  FileSystem::CloseHandle(both);
  EXPECT_EQ(read_file(box.path("f")), "axc");
}

TEST_F(FileHandles, HandlesAreNotInheritedByStartedPrograms) {
  void* handle = open("f", kGenericWrite, kCreateAlways);
  int fd = static_cast<int>(reinterpret_cast<intptr_t>(handle));
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  FileSystem::CloseHandle(handle);
}

TEST_F(FileHandles, CreateAlwaysDoesNotTruncateUntilSetEndOfFile) {
  write_file(box.path("f"), std::string(100, 'a'));
  void* handle = open("f", kGenericWrite, kCreateAlways);
  unsigned written = 0;
  EXPECT_EQ(FileSystem::WriteFile(handle, "0123456789", 10, &written, nullptr), 0u);
  EXPECT_EQ(written, 10u);
  EXPECT_EQ(FileSystem::CloseHandle(handle), 0u);
  EXPECT_EQ(read_file(box.path("f")), "0123456789" + std::string(90, 'a'));

  handle = open("f", kGenericWrite, kCreateAlways);
  EXPECT_EQ(FileSystem::WriteFile(handle, "9876543210", 10, &written, nullptr), 0u);
  EXPECT_EQ(FileSystem::SetEndOfFile(handle), 0u);
  EXPECT_EQ(FileSystem::CloseHandle(handle), 0u);
  EXPECT_EQ(read_file(box.path("f")), "9876543210");
}

TEST_F(FileHandles, CreateAlwaysMakesAMissingFileWithGroupMode) {
  void* handle = open("new", kGenericWrite, kCreateAlways);
  FileSystem::CloseHandle(handle);
  struct stat info;
  ASSERT_EQ(stat(box.path("new").c_str(), &info), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0660u & ~mask);
  // The other dispositions never create.
  void* other = kInvalidHandleValue;
  for (unsigned disposition : {kCreateNew, kOpenExisting, kOpenAlways, kTruncateExisting}) {
    EXPECT_EQ(FileSystem::CreateFile(box.wpath("none"), kGenericWrite, 0, disposition, other), 2u);
  }
  EXPECT_FALSE(file_exists(box.path("none")));
}

TEST_F(FileHandles, TruncateExistingEmptiesTheFile) {
  write_file(box.path("f"), "content");
  FileSystem::CloseHandle(open("f", kGenericWrite, kTruncateExisting));
  EXPECT_EQ(read_file(box.path("f")), "");
}

TEST_F(FileHandles, ReadFileStopsAtEndOfFileWithoutError) {
  std::string content(130, 'x');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
  write_file(box.path("f"), content);
  void* handle = open("f", kGenericRead, kOpenExisting);
  EXPECT_EQ(FileSystem::SetFilePointer(handle, 100, nullptr, kFileBegin), 100u);
  char buffer[100];
  unsigned count = 999;
  EXPECT_EQ(FileSystem::ReadFile(handle, buffer, 100, &count, nullptr), 0u);
  EXPECT_EQ(count, 30u);
  EXPECT_EQ(std::string(buffer, 30), content.substr(100));
  EXPECT_EQ(FileSystem::ReadFile(handle, buffer, 100, &count, nullptr), 0u);
  EXPECT_EQ(count, 0u);
  FileSystem::CloseHandle(handle);
}

TEST_F(FileHandles, ReadFileGathersAWholeRecordFromAPipe) {
  // A pipe delivers in pieces; one call still returns the whole count.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  test_support::Child writer([&] {
    close(fds[0]);
    for (int i = 0; i < 4; ++i) {
      if (write(fds[1], "abcde", 5) != 5) return 1;
      usleep(20000);
    }
    return 0;
  });
  ASSERT_TRUE(writer.started());
  close(fds[1]);
  char buffer[20];
  unsigned count = 0;
  void* handle = reinterpret_cast<void*>(static_cast<intptr_t>(fds[0]));
  EXPECT_EQ(FileSystem::ReadFile(handle, buffer, 20, &count, nullptr), 0u);
  EXPECT_EQ(count, 20u);
  EXPECT_EQ(std::string(buffer, 20), "abcdeabcdeabcdeabcde");
  FileSystem::CloseHandle(handle);
  EXPECT_EQ(writer.wait().status, 0);
}

TEST_F(FileHandles, ReadFileArgumentRules) {
  write_file(box.path("f"), "abc");
  void* handle = open("f", kGenericRead, kOpenExisting);
  char buffer[4];
  _OVERLAPPED overlapped{};
  EXPECT_EQ(FileSystem::ReadFile(handle, buffer, 3, nullptr, nullptr), 87u);
  EXPECT_EQ(FileSystem::GetLastError(), 87u);
  EXPECT_EQ(FileSystem::ReadFile(handle, buffer, 3, nullptr, &overlapped), 0u);
  unsigned count = 0;
  EXPECT_EQ(FileSystem::ReadFile(handle, buffer, 3, &count, nullptr), 0u);
  EXPECT_EQ(count, 3u);  // the call with no count pointer read nothing
  FileSystem::CloseHandle(handle);
  EXPECT_EQ(FileSystem::ReadFile(kInvalidHandleValue, buffer, 3, &count, nullptr), 87u);
  EXPECT_EQ(count, 0u);
}

TEST_F(FileHandles, WriteFileArgumentRules) {
  void* handle = open("f", kGenericWrite, kCreateAlways);
  _OVERLAPPED overlapped{};
  EXPECT_EQ(FileSystem::WriteFile(handle, "abc", 3, nullptr, nullptr), 87u);
  EXPECT_EQ(FileSystem::WriteFile(handle, "abc", 3, nullptr, &overlapped), 0u);
  unsigned written = 0;
  EXPECT_EQ(FileSystem::WriteFile(kInvalidHandleValue, "abc", 3, &written, nullptr), 6u);
  EXPECT_EQ(FileSystem::GetLastError(), 6u);
  FileSystem::CloseHandle(handle);
  EXPECT_EQ(read_file(box.path("f")), "");
  // A closed descriptor: the errno rule (EBADF) gives 87.
  EXPECT_EQ(FileSystem::WriteFile(handle, "abc", 3, &written, nullptr), 87u);
}

TEST_F(FileHandles, WriteFileFailsOnAFullDevice) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  void* handle = kInvalidHandleValue;
  ASSERT_EQ(FileSystem::CreateFile(u"/dev/full", kGenericWrite, 0, kOpenExisting, handle), 0u);
  unsigned written = 7;
  EXPECT_EQ(FileSystem::WriteFile(handle, "abc", 3, &written, nullptr), 112u);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(FileSystem::GetLastSystemError(), ENOSPC);
  FileSystem::CloseHandle(handle);
}

// A disk that fills in the middle of a write: the kernel writes what fits
// (a short write), and only the next call says why it cannot go on.
TEST_F(FileHandles, WriteFileFillingTheDiskGives112) {
  SmallTmpfs small(box.path("small"), 256 * 1024);
  if (!small.ok()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  void* handle = kInvalidHandleValue;
  ASSERT_EQ(FileSystem::CreateFile(widen_lib(small.path("f")), kGenericWrite, 0, kCreateAlways,
                                   handle),
            0u);
  const std::string data(1024 * 1024, 'd');
  unsigned written = 0;
  errno = ENOENT;  // left by some earlier call: not the reason
  EXPECT_EQ(FileSystem::WriteFile(handle, data.data(), static_cast<unsigned>(data.size()), &written,
                                  nullptr),
            112u);
  EXPECT_EQ(FileSystem::GetLastError(), 112u);
  EXPECT_EQ(FileSystem::GetLastSystemError(), ENOSPC);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, data.size());
  FileSystem::CloseHandle(handle);
}

TEST_F(FileHandles, SetFilePointerMethodsAndHighPart) {
  write_file(box.path("f"), std::string(1000, 'z'));
  void* handle = open("f", kGenericRead | kGenericWrite, kOpenExisting);
  EXPECT_EQ(FileSystem::SetFilePointer(handle, 0, nullptr, kFileEnd), 1000u);
  EXPECT_EQ(FileSystem::SetFilePointer(handle, 10, nullptr, kFileBegin), 10u);
  EXPECT_EQ(FileSystem::SetFilePointer(handle, 5, nullptr, kFileCurrent), 15u);
  EXPECT_EQ(FileSystem::SetFilePointer(handle, -15, nullptr, kFileCurrent), 0u);
  EXPECT_EQ(FileSystem::SetFilePointer(handle, 7, nullptr, 99), 7u);  // unknown method: begin

  // Beyond 4 GiB (a sparse seek; nothing is written): low and high halves.
  long high = 1;
  EXPECT_EQ(FileSystem::SetFilePointer(handle, 16, &high, kFileBegin), 16u);
  EXPECT_EQ(high, 1);
  high = 0;
  EXPECT_EQ(FileSystem::SetFilePointer(handle, 0, &high, kFileCurrent), 16u);
  EXPECT_EQ(high, 1);

  EXPECT_EQ(FileSystem::SetFilePointer(handle, -1, nullptr, kFileBegin), 0xFFFFFFFFu);
  EXPECT_EQ(FileSystem::GetLastError(), 87u);
  FileSystem::CloseHandle(handle);

  EXPECT_EQ(FileSystem::SetFilePointer(kInvalidHandleValue, 0, nullptr, kFileBegin), 0xFFFFFFFFu);
  EXPECT_EQ(FileSystem::GetLastError(), 6u);
}

TEST_F(FileHandles, SuccessfulCallsResetTheLastError) {
  void* handle = kInvalidHandleValue;
  FileSystem::CreateFile(box.wpath("missing"), kGenericRead, 0, kOpenExisting, handle);
  ASSERT_EQ(FileSystem::GetLastError(), 2u);
  write_file(box.path("f"), "abc");
  handle = open("f", kGenericRead, kOpenExisting);
  EXPECT_EQ(FileSystem::GetLastError(), 0u);
  EXPECT_EQ(FileSystem::GetLastSystemError(), 0);  // cleared with the code
  // CloseHandle does not reset it. An invalid handle is found without a
  // system call failing: no system error behind the 6.
  FileSystem::SetFilePointer(kInvalidHandleValue, 0, nullptr, kFileBegin);
  EXPECT_EQ(FileSystem::CloseHandle(handle), 0u);
  EXPECT_EQ(FileSystem::GetLastError(), 6u);
  EXPECT_EQ(FileSystem::GetLastSystemError(), 0);
  EXPECT_EQ(FileSystem::CloseHandle(handle), 87u);  // already closed: EBADF
  EXPECT_EQ(FileSystem::GetLastSystemError(), EBADF);
}

TEST(FileTime, EpochConversionConstants) {
  _FILETIME zero = EpochToFileTime(0);
  EXPECT_EQ(zero.dwHighDateTime, 27111902u);
  EXPECT_EQ(zero.dwLowDateTime, 3577643008u);
  EXPECT_EQ(FileTimeToEpoch(zero), 0);
  _FILETIME tickLess = zero;
  tickLess.dwLowDateTime -= 1;
  EXPECT_EQ(FileTimeToEpoch(tickLess), -1);

  // Parts of a second are dropped, and a round trip keeps whole seconds.
  const long samples[] = {1, 86399, 1700000000, 4102444800, -11644473600};
  for (long t : samples) EXPECT_EQ(FileTimeToEpoch(EpochToFileTime(t)), t) << t;
  _FILETIME almost = EpochToFileTime(1000);
  uint64_t ticks = (static_cast<uint64_t>(almost.dwHighDateTime) << 32) | almost.dwLowDateTime;
  ticks += 9999999;
  _FILETIME later{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
  EXPECT_EQ(FileTimeToEpoch(later), 1000);
}

TEST_F(FileHandles, SetAndGetFileTimeUseWholeSeconds) {
  void* handle = open("f", kGenericRead | kGenericWrite, kCreateAlways);
  _FILETIME when = EpochToFileTime(1234567890);
  EXPECT_EQ(FileSystem::SetFileTime(handle, nullptr, nullptr, &when), 0u);
  _FILETIME creation{}, access{}, write{};
  EXPECT_EQ(FileSystem::GetFileTime(handle, &creation, &access, &write), 0u);
  EXPECT_EQ(FileTimeToEpoch(write), 1234567890);
  EXPECT_EQ(FileTimeToEpoch(access), 1234567890);
  EXPECT_GT(FileTimeToEpoch(creation), 1600000000);  // the status change just now
  FileSystem::CloseHandle(handle);

  struct stat info;
  ASSERT_EQ(stat(box.path("f").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 1234567890);
  EXPECT_EQ(info.st_mtim.tv_nsec, 0);
  EXPECT_EQ(info.st_atime, 1234567890);
}

TEST_F(FileHandles, FileTimeFailures) {
  _FILETIME when = EpochToFileTime(5);
  _FILETIME out{};
  EXPECT_EQ(FileSystem::GetFileTime(kInvalidHandleValue, &out, &out, &out), 6u);
  EXPECT_EQ(FileSystem::SetFileTime(kInvalidHandleValue, nullptr, nullptr, &when), 6u);
  void* handle = open("f", kGenericWrite, kCreateAlways);
  errno = 0;
  EXPECT_EQ(FileSystem::SetFileTime(handle, &when, &when, nullptr), 87u);
  EXPECT_EQ(FileSystem::GetFileTime(handle, nullptr, nullptr, nullptr), 0u);
  FileSystem::CloseHandle(handle);
  EXPECT_EQ(FileSystem::GetFileTime(handle, &out, nullptr, nullptr), 6u);  // closed
}

TEST_F(FileHandles, SetFileTimeWithoutATimeCodesTheCurrentErrno) {
  void* handle = open("f", kGenericWrite, kCreateAlways);
  _FILETIME when = EpochToFileTime(5);
  errno = ENOENT;
  EXPECT_EQ(FileSystem::SetFileTime(handle, &when, &when, nullptr), 2u);
  EXPECT_EQ(FileSystem::GetLastError(), 2u);
  errno = EACCES;
  EXPECT_EQ(FileSystem::SetFileTime(handle, &when, &when, nullptr), 87u);
  EXPECT_EQ(FileSystem::GetLastError(), 87u);
  FileSystem::CloseHandle(handle);
}

// A failure's words come from the errno it carries, the code's only without one.
TEST(StatusReason, TheErrnoCarriedDecidesTheWordsNotTheCode) {
  narrow_lib(u"");  // the layer's own setlocale first, so that "C" below stays
  ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
  Status derived = error_status(kErrorFileNotFound, u"/k");  // a code mapped from EACCES
  derived.systemError = EACCES;
  const std::pair<Status, const char*> cases[] = {
      {status_of_errno(EACCES, u"/ro"), "/ro: Permission denied (87)"},
      {derived, "/k: Permission denied (2)"},
      {error_status(kErrorFileNotFound, u"/y"), "/y: The file does not exist (2)"}};
  for (const auto& c : cases) EXPECT_EQ(narrow_lib(describe_status(c.first)), c.second);
}

// A file-size limit below the request makes the kernel write only up to the
// limit (a short write); the rest then fails with EFBIG, SIGXFSZ ignored as
// the programs ignore it. The code is that failure's, whatever errno held.
TEST_F(FileHandles, WritePastTheSizeLimitGives223WithWhatFitted) {
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limit = saved;
  limit.rlim_cur = 5;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  void* handle = open("f", kGenericWrite, kCreateAlways);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  unsigned written = 0;
  errno = ENOENT;
  unsigned first = FileSystem::WriteFile(handle, "0123456789", 10, &written, nullptr);
  unsigned firstWritten = written;
  unsigned firstLastError = FileSystem::GetLastError();
  int firstSystemError = FileSystem::GetLastSystemError();
  FileSystem::SetFilePointer(handle, 0, nullptr, kFileBegin);
  errno = 0;
  unsigned second = FileSystem::WriteFile(handle, "0123456789", 10, &written, nullptr);
  unsigned secondWritten = written;
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  FileSystem::CloseHandle(handle);

  EXPECT_EQ(first, 223u);
  EXPECT_EQ(firstLastError, 223u);
  EXPECT_EQ(firstSystemError, EFBIG);
  EXPECT_EQ(firstWritten, 5u);
  EXPECT_EQ(second, 223u);
  EXPECT_EQ(secondWritten, 5u);
  EXPECT_EQ(read_file(box.path("f")), "01234");
}

// Which operations clear the last error on entry and which leave it alone,
// on success and on failure alike.
TEST_F(FileHandles, OnlyTheHandleOperationsResetTheLastError) {
  auto poison = [] { FileSystem::SetFilePointer(kInvalidHandleValue, 0, nullptr, kFileBegin); };
  write_file(box.path("f"), "abcdef");
  void* handle = open("f", kGenericRead | kGenericWrite, kOpenExisting);
  char buffer[4];
  unsigned count = 0;
  _FILETIME when = EpochToFileTime(1000000000);

  poison();
  EXPECT_EQ(FileSystem::ReadFile(handle, buffer, 2, &count, nullptr), 0u);
  EXPECT_EQ(FileSystem::GetLastError(), 0u) << "ReadFile";
  poison();
  EXPECT_EQ(FileSystem::WriteFile(handle, "xy", 2, &count, nullptr), 0u);
  EXPECT_EQ(FileSystem::GetLastError(), 0u) << "WriteFile";
  poison();
  EXPECT_EQ(FileSystem::SetFilePointer(handle, 0, nullptr, kFileCurrent), 4u);
  EXPECT_EQ(FileSystem::GetLastError(), 0u) << "SetFilePointer";
  poison();
  EXPECT_EQ(FileSystem::SetEndOfFile(handle), 0u);
  EXPECT_EQ(FileSystem::GetLastError(), 0u) << "SetEndOfFile";
  poison();
  EXPECT_EQ(FileSystem::SetFileTime(handle, nullptr, nullptr, &when), 0u);
  EXPECT_EQ(FileSystem::GetLastError(), 0u) << "SetFileTime";
  poison();
  EXPECT_EQ(FileSystem::GetFileTime(handle, nullptr, nullptr, &when), 0u);
  EXPECT_EQ(FileSystem::GetLastError(), 0u) << "GetFileTime";
  poison();
  EXPECT_EQ(FileSystem::CloseHandle(handle), 0u);
  EXPECT_EQ(FileSystem::GetLastError(), 6u) << "CloseHandle";
  poison();
  handle = open("f", kGenericRead, kOpenExisting);
  EXPECT_EQ(FileSystem::GetLastError(), 0u) << "CreateFile";
  FileSystem::CloseHandle(handle);

  // The path operations never touch it, whatever their result.
  unsigned size = 0;
  wstring text;
  poison();
  EXPECT_EQ(FileSystem::GetFileSize(box.wpath("f"), &size), 0u);
  EXPECT_EQ(FileSystem::GetFileSize(box.wpath("missing"), &size), 1u);
  EXPECT_EQ(FileSystem::GetTempPath(text), 0u);
  EXPECT_EQ(FileSystem::GetTempFileName(box.wpath("tmp"), u"edf", text), 0u);
  EXPECT_EQ(FileSystem::GetTempFileName(box.wpath("missing"), u"edf", text), 1013u);
  EXPECT_EQ(FileSystem::GetFreeSpaceTmpDir(&size), 0u);
  EXPECT_EQ(FileSystem::GetFreeSpaceTmpDir(nullptr), 87u);
  EXPECT_EQ(FileSystem::CreateDirectory(box.wpath("d/e")), 0u);
  EXPECT_EQ(FileSystem::CreateDirectory(box.wpath("d/e")), 183u);
  EXPECT_EQ(FileSystem::CreateDirectory(box.wpath("f/sub")), 2u);
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("f"), box.wpath("g")), 0u);
  EXPECT_EQ(FileSystem::MoveFile(box.wpath("f"), box.wpath("g")), 2u);
  EXPECT_EQ(FileSystem::DeleteFile(box.wpath("g")), 0u);
  EXPECT_EQ(FileSystem::RemoveDirectory(box.wpath("d")), 0u);
  FileFinder finder;
  EXPECT_TRUE(finder.reset(box.wpath("*")));
  EXPECT_FALSE(finder.reset(box.wpath("missing/*")));
  EXPECT_EQ(FileSystem::GetLastError(), 6u);
}

TEST_F(FileHandles, GetFileSizeFollowsLinksAndLeavesLastError) {
  write_file(box.path("f"), std::string(1234, 'q'));
  ASSERT_EQ(symlink("f", box.path("link").c_str()), 0);
  FileSystem::SetFilePointer(kInvalidHandleValue, 0, nullptr, kFileBegin);
  unsigned size = 0;
  EXPECT_EQ(FileSystem::GetFileSize(box.wpath("link"), &size), 0u);
  EXPECT_EQ(size, 1234u);
  EXPECT_EQ(FileSystem::GetFileSize(box.wpath("missing"), &size), 1u);
  EXPECT_EQ(FileSystem::GetFileSize(box.wpath("f"), nullptr), 1u);
  EXPECT_EQ(FileSystem::GetLastError(), 6u);
}

TEST_F(FileHandles, GetFileSizeKeepsTheLow32Bits) {
  int fd = ::open(box.path("big").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  if (ftruncate(fd, 0x100000005ll) != 0) {
    close(fd);
    GTEST_SKIP() << "no sparse files here";
  }
  close(fd);
  unsigned size = 0;
  EXPECT_EQ(FileSystem::GetFileSize(box.wpath("big"), &size), 0u);
  EXPECT_EQ(size, 5u);
}

class TempPath : public FileHandles {};

TEST_F(TempPath, TmpdirIsUsedOnlyWhenItIsADirectory) {
  wstring path;
  unsetenv("TMPDIR");
  EXPECT_EQ(FileSystem::GetTempPath(path), 0u);
  EXPECT_EQ(path, u"/tmp/");
  setenv("TMPDIR", "", 1);
  FileSystem::GetTempPath(path);
  EXPECT_EQ(path, u"/tmp/");
  write_file(box.path("plain"), "x");
  setenv("TMPDIR", box.path("plain").c_str(), 1);
  FileSystem::GetTempPath(path);
  EXPECT_EQ(path, u"/tmp/");
  setenv("TMPDIR", box.path("missing").c_str(), 1);
  FileSystem::GetTempPath(path);
  EXPECT_EQ(path, u"/tmp/");
  setenv("TMPDIR", "/var/tmp", 1);
  FileSystem::GetTempPath(path);
  EXPECT_EQ(path, u"/var/tmp/");
  setenv("TMPDIR", "/var/tmp/", 1);
  FileSystem::GetTempPath(path);
  EXPECT_EQ(path, u"/var/tmp/");
  setenv("TMPDIR", box.path("tmp").c_str(), 1);
  FileSystem::GetTempPath(path);
  EXPECT_EQ(path, box.wpath("tmp/"));
}

TEST_F(TempPath, FreeSpaceIsTheTempFileSystemsFreeBytesSaturated) {
  unsigned freeBytes = 1;
  EXPECT_EQ(FileSystem::GetFreeSpaceTmpDir(nullptr), 87u);
  EXPECT_EQ(FileSystem::GetFreeSpaceTmpDir(&freeBytes), 0u);
  struct statvfs info;
  ASSERT_EQ(statvfs(box.path("tmp").c_str(), &info), 0);
  unsigned long long expected = static_cast<unsigned long long>(info.f_frsize) * info.f_bfree;
  if (expected > 0xFFFFFFFFull) {
    EXPECT_EQ(freeBytes, 0xFFFFFFFFu);
  } else {
    // Other tests write meanwhile; the figure is the same within a margin.
    EXPECT_NEAR(static_cast<double>(freeBytes), static_cast<double>(expected), 64.0 * 1024 * 1024);
  }
}

}  // namespace
