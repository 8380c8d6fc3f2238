// Scratch directories, a private HOME and TMPDIR, and whole-file helpers for
// the launcher configuration tests.
#ifndef QXR8_TESTS_CONFIG_CONFIG_TEST_UTIL_H_
#define QXR8_TESTS_CONFIG_CONFIG_TEST_UTIL_H_

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text_encoding.h"
#include "platform/wstring.h"
#include "tests/support/file_io.h"
#include "tests/support/private_env.h"
#include "tests/support/temp_dir.h"

namespace cfgtest {

// A fresh directory below TMPDIR (or /tmp); "" and a test failure when
// none can be made. The caller removes it.
inline std::string makeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string dir = test_support::make_temp_dir(base && *base ? base : "/tmp", "qxr8cfg.");
  if (dir.empty()) ADD_FAILURE() << "mkdtemp failed";
  return dir;
}

inline void removeTree(const std::string& path) { test_support::remove_tree(path); }

inline void writeBytes(const std::string& path, const std::string& bytes) {
  ASSERT_TRUE(test_support::write_file(path, bytes)) << path;
}

inline std::string readBytes(const std::string& path) { return test_support::read_file(path); }
inline bool exists(const std::string& path) { return test_support::file_exists(path); }
inline void makeDirs(const std::string& path) { test_support::make_dirs(path); }
// Names in a directory, "." and ".." left out, sorted.
inline std::vector<std::string> listDir(const std::string& path) {
  return test_support::list_dir(path);
}

inline wstring W(const std::string& s) { return widen_lib(s); }
inline std::string N(const wstring& s) { return narrow_lib(s); }

// A fresh directory per test, set as HOME and TMPDIR, removed afterwards.
class PrivateHomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = makeTempDir();
    ASSERT_FALSE(root.empty());
    home = root + "/home";
    tmp = root + "/tmp";
    ASSERT_EQ(0, mkdir(home.c_str(), 0755));
    ASSERT_EQ(0, mkdir(tmp.c_str(), 0755));
    m_env.set("HOME", home);
    m_env.set("TMPDIR", tmp);
  }
  // HOME and TMPDIR come back when the fixture goes, right after this.
  void TearDown() override {
    if (!root.empty()) removeTree(root);
  }

  // The ordinary per-user, base and all-users launcher files under HOME.
  std::string localDir() const { return home + "/.Qx/qxlaunch"; }
  std::string localFile() const { return localDir() + "/qxlaunch.cfg"; }
  std::string baseDir() const { return home + "/.Qx/qxlauncht"; }
  std::string baseFile() const { return baseDir() + "/qxlaunch.cfg"; }
  std::string allUsersDir() const { return home + "/.qxr8//.Qx/qxlaunch"; }
  std::string allUsersFile() const { return allUsersDir() + "/qxlaunch.cfg"; }

  void putFile(const std::string& dir, const std::string& file, const std::string& bytes) {
    makeDirs(dir);
    writeBytes(file, bytes);
  }

  std::string root;
  std::string home;
  std::string tmp;

 private:
  test_support::EnvironmentGuard m_env;
};

}  // namespace cfgtest

#endif  // QXR8_TESTS_CONFIG_CONFIG_TEST_UTIL_H_
