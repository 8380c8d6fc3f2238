#include "platform/process_services.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/text_encoding.h"
#include "tests/platform/hostile_names.h"
#include "tests/support/file_io.h"
#include "tests/support/sandbox.h"

namespace {

using test_support::Sandbox;
using test_support::file_exists;
using test_support::read_file;
using test_support::write_file;


class ProcessServices : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(box.ok()); }
  Sandbox box{"."};
};

TEST_F(ProcessServices, HomeDirIsTheExpansionOfTilde) {
  setenv("HOME", "/tmp/h", 1);
  EXPECT_EQ(home_dir(), u"/tmp/h");
  EXPECT_EQ(app_data_dir(true), u"/tmp/h/.qxr8/");
  EXPECT_EQ(app_data_dir(false), app_data_dir(true));
  // No separator is added or removed, and blanks are kept.
  setenv("HOME", "/tmp/with space/", 1);
  EXPECT_EQ(home_dir(), u"/tmp/with space/");
  // The value is taken as it is: nothing in it is expanded or run.
  setenv("HOME", "/tmp/$(touch PWNED)`touch PWNED`*", 1);
  EXPECT_EQ(home_dir(), u"/tmp/$(touch PWNED)`touch PWNED`*");
  EXPECT_FALSE(file_exists(box.path("PWNED")));
  setenv("HOME", "", 1);
  EXPECT_EQ(home_dir(), u"");
  EXPECT_EQ(app_data_dir(true), u"/.qxr8/");
  setenv("HOME", "/home/\xD0\x96", 1);
  EXPECT_EQ(home_dir(), u"/home/Ж");
  EXPECT_EQ(app_data_dir(false), u"/home/Ж/.qxr8/");
}

TEST_F(ProcessServices, WfopenNarrowsPathAndMode) {
  write_file(box.path("\xD0\x96.cfg"), "key=value\n");
  FILE* file = _wfopen(box.wpath("Ж.cfg").c_str(), u"rt, ccs=UNICODE");
  ASSERT_NE(file, nullptr);
  char line[32] = {};
  EXPECT_NE(fgets(line, sizeof line, file), nullptr);
  EXPECT_STREQ(line, "key=value\n");
  fclose(file);
  errno = 0;
  EXPECT_EQ(_wfopen(box.wpath("missing").c_str(), u"r"), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(_wfopen(nullptr, u"r"), nullptr);
}

TEST(PathServices, OnlyTheSingleSlashIsADiskRoot) {
  EXPECT_TRUE(isDiskRoot(u"/"));
  EXPECT_FALSE(isDiskRoot(u"/home"));
  EXPECT_FALSE(isDiskRoot(u""));
  EXPECT_FALSE(isDiskRoot(u"//"));
  EXPECT_FALSE(isDiskRoot(u"\\"));
}

TEST_F(ProcessServices, RunLinuxCommandReturnsTheWaitStatus) {
  int status = run_linux_command("exit 3");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(run_linux_command("true"), 0);
}

TEST_F(ProcessServices, SpawnPassesEveryArgumentAsOneLiteralWord) {
  for (const char* hostile : kHostileNames) {
    SCOPED_TRACE(hostile);
    // touch creates exactly one file named by the argument, literally.
    const char* argv[] = {"touch", "--", hostile, nullptr};
    int status = spawn_program(argv, true, true);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(file_exists(box.path(hostile)));
  }
  EXPECT_FALSE(file_exists(box.path("PWNED")));
}

TEST_F(ProcessServices, SpawnReportsTheExitStatusAndMissingPrograms) {
  const char* fails[] = {"false", nullptr};
  int status = spawn_program(fails, true, true);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const char* missing[] = {"qxr8-no-such-program", nullptr};
  EXPECT_EQ(spawn_program(missing, true, true), -1);
  EXPECT_EQ(spawn_program(missing, true, false), -1);
  const char* empty[] = {nullptr};
  EXPECT_EQ(spawn_program(empty, true, true), -1);
  EXPECT_EQ(spawn_program(nullptr, true, false), -1);
}

TEST_F(ProcessServices, SpawnGivesTheChildNullInputAndOptionallyQuietErrors) {
  // The child reads its stdin (empty) and reports on both outputs; stdout
  // goes to a file we pass through the descriptor the child inherits.
  int out = ::open(box.path("out").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  ASSERT_GE(out, 0);
  int savedOut = dup(STDOUT_FILENO);
  int savedErr = dup(STDERR_FILENO);
  ASSERT_GE(dup2(out, STDOUT_FILENO), 0);
  ASSERT_GE(dup2(out, STDERR_FILENO), 0);
  const char* argv[] = {"sh", "-c", "wc -c; echo to-stderr >&2", nullptr};
  int quiet = spawn_program(argv, true, true);
  int loud = spawn_program(argv, false, true);
  fflush(stdout);
  dup2(savedOut, STDOUT_FILENO);
  dup2(savedErr, STDERR_FILENO);
  close(savedOut);
  close(savedErr);
  close(out);
  EXPECT_EQ(quiet, 0);
  EXPECT_EQ(loud, 0);
  EXPECT_EQ(read_file(box.path("out")), "0\n0\nto-stderr\n");
}

TEST_F(ProcessServices, SpawnWithoutWaitingLeavesNoZombie) {
  const char* argv[] = {"touch", "--", "started", nullptr};
  ASSERT_EQ(spawn_program(argv, true, false), 0);
  // The program runs on its own; it is not our child, so nothing is left
  // for us to reap.
  for (int i = 0; i < 200 && !file_exists(box.path("started")); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(file_exists(box.path("started")));
  int status = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
