// A private HOME and TMPDIR and whole-file helpers for the launcher
// configuration tests.
#ifndef QXR8_TESTS_CONFIG_CONFIG_TEST_UTIL_H_
#define QXR8_TESTS_CONFIG_CONFIG_TEST_UTIL_H_

#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text_encoding.h"
#include "platform/wstring.h"
#include "tests/support/file_io.h"
#include "tests/support/sandbox.h"

namespace cfgtest {

inline void writeBytes(const std::string& path, const std::string& bytes) {
  ASSERT_TRUE(test_support::write_file(path, bytes)) << path;
}

using test_support::file_exists;
using test_support::list_dir;
using test_support::make_dirs;
using test_support::read_file;

inline wstring W(const std::string& s) { return widen_lib(s); }
inline std::string N(const wstring& s) { return narrow_lib(s); }

// A private sandbox per test (HOME and TMPDIR inside it, see
// test_support::Sandbox), with the launcher files of that HOME.
class PrivateHomeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_box.ok()); }

  // The ordinary per-user, base and all-users launcher files under HOME.
  std::string localDir() const { return home + "/.Qx/qxlaunch"; }
  std::string localFile() const { return localDir() + "/qxlaunch.cfg"; }
  std::string baseDir() const { return home + "/.Qx/qxlauncht"; }
  std::string baseFile() const { return baseDir() + "/qxlaunch.cfg"; }
  std::string allUsersDir() const { return home + "/.qxr8//.Qx/qxlaunch"; }
  std::string allUsersFile() const { return allUsersDir() + "/qxlaunch.cfg"; }

  void putFile(const std::string& dir, const std::string& file, const std::string& bytes) {
    make_dirs(dir);
    writeBytes(file, bytes);
  }

  // Made before the paths below, which are taken from it.
 private:
  test_support::Sandbox m_box;

 protected:
  const std::string root = m_box.root();
  const std::string home = m_box.home();
  const std::string tmp = m_box.tmp();
};

}  // namespace cfgtest

#endif  // QXR8_TESTS_CONFIG_CONFIG_TEST_UTIL_H_
