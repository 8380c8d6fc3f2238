// Scratch directories, a private HOME and TMPDIR, and whole-file helpers for
// the launcher configuration tests.
#ifndef QXR8_TESTS_CONFIG_CONFIG_TEST_UTIL_H_
#define QXR8_TESTS_CONFIG_CONFIG_TEST_UTIL_H_

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text_encoding.h"
#include "platform/wstring.h"

namespace cfgtest {

inline std::string makeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/qxr8cfg.XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return std::string();
  }
  return std::string(buf.data());
}

inline void removeTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") removeTree(path + "/" + name);
      }
      closedir(d);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

inline std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

inline void makeDirs(const std::string& path) {
  std::string cur;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || (path[i] == '/' && i > 0)) {
      cur = path.substr(0, i);
      mkdir(cur.c_str(), 0755);
    }
  }
}

// Names in a directory, "." and ".." left out.
inline std::vector<std::string> listDir(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  return names;
}

inline wstring W(const std::string& s) { return widen_lib(s); }
inline std::string N(const wstring& s) { return narrow_lib(s); }

// A fresh directory per test, set as HOME and TMPDIR, removed afterwards.
class PrivateHomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("HOME");
    m_oldHome = old ? old : "";
    const char* oldTmp = std::getenv("TMPDIR");
    m_hadTmp = oldTmp != nullptr;
    m_oldTmp = oldTmp ? oldTmp : "";
    root = makeTempDir();
    ASSERT_FALSE(root.empty());
    home = root + "/home";
    tmp = root + "/tmp";
    ASSERT_EQ(0, mkdir(home.c_str(), 0755));
    ASSERT_EQ(0, mkdir(tmp.c_str(), 0755));
    setenv("HOME", home.c_str(), 1);
    setenv("TMPDIR", tmp.c_str(), 1);
  }
  void TearDown() override {
    setenv("HOME", m_oldHome.c_str(), 1);
    if (m_hadTmp) {
      setenv("TMPDIR", m_oldTmp.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
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
  std::string m_oldHome;
  std::string m_oldTmp;
  bool m_hadTmp = false;
};

}  // namespace cfgtest

#endif  // QXR8_TESTS_CONFIG_CONFIG_TEST_UTIL_H_
