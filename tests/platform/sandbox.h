// A private temporary directory for one test, with TMPDIR and HOME pointing
// into it and the working directory inside it, so that anything a stray
// shell might create lands where the test can see it. Everything is removed
// (without the code under test) when the sandbox ends.
#ifndef QXR8_TESTS_PLATFORM_SANDBOX_H_
#define QXR8_TESTS_PLATFORM_SANDBOX_H_

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/text_encoding.h"
#include "platform/wstring.h"

namespace qxr8_test_support {

// Makes a fresh directory below `base` (mkdtemp); empty on failure.
inline std::string make_temp_dir(const std::string& base) {
  std::string pattern = base + "/qxr8-platform-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return std::string();
  return pattern;
}

inline bool exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

inline bool is_dir(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

inline void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Sandbox {
 public:
  Sandbox() {
    if (getcwd(m_oldCwd, sizeof m_oldCwd) == nullptr) m_oldCwd[0] = '\0';
    save("TMPDIR", m_oldTmpdir);
    save("HOME", m_oldHome);
    m_root = make_temp_dir("/tmp");
    std::filesystem::create_directories(m_root + "/tmp");
    std::filesystem::create_directories(m_root + "/home");
    setenv("TMPDIR", (m_root + "/tmp").c_str(), 1);
    setenv("HOME", (m_root + "/home").c_str(), 1);
    m_inside = !m_root.empty() && chdir(m_root.c_str()) == 0;
  }
  ~Sandbox() {
    if (m_oldCwd[0] != '\0' && chdir(m_oldCwd) != 0) m_oldCwd[0] = '\0';
    restore("TMPDIR", m_oldTmpdir);
    restore("HOME", m_oldHome);
    std::error_code ignored;
    // Restore write permission that a test may have taken away.
    chmod(m_root.c_str(), 0700);
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_root, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) chmod(it->path().c_str(), 0700);
    }
    std::filesystem::remove_all(m_root, ignored);
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  bool ok() const { return !m_root.empty() && m_inside; }
  // The sandbox directory (no trailing "/"), narrow and wide.
  const std::string& root() const { return m_root; }
  std::string path(const std::string& relative) const { return m_root + "/" + relative; }
  wstring wpath(const std::string& relative) const { return widen_lib(path(relative)); }

 private:
  struct SavedVariable {
    bool set = false;
    std::string value;
  };
  static void save(const char* name, SavedVariable& saved) {
    const char* value = getenv(name);
    saved.set = value != nullptr;
    if (value != nullptr) saved.value = value;
  }
  static void restore(const char* name, const SavedVariable& saved) {
    if (saved.set) {
      setenv(name, saved.value.c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

  std::string m_root;
  char m_oldCwd[4096] = {};
  bool m_inside = false;
  SavedVariable m_oldTmpdir;
  SavedVariable m_oldHome;
};

// A directory where this process may not create files: a read-only one
// made in the sandbox, or (root ignores permissions) sysfs, which refuses
// new files to everyone. Empty when there is none.
inline std::string unwritable_dir(const Sandbox& box) {
  if (geteuid() != 0) {
    mkdir(box.path("ro").c_str(), 0500);
    return box.path("ro");
  }
  return access("/sys", F_OK) == 0 ? "/sys" : "";
}

// File names that a shell would act on: a command substitution in both
// forms, a closing double quote followed by a command, a newline, a leading
// "-" (an option to any tool), a backslash and a single quote. Each one,
// if run through a shell, creates the file "PWNED" in the working directory.
inline const char* const kHostileNames[] = {
    "$(touch PWNED)",
    "`touch PWNED`",
    "q\"; touch PWNED; echo \"",
    "line\ntouch PWNED",
    "-rf",
    "--touch PWNED",
    "back\\slash $(touch PWNED)",
    "it's `touch PWNED`",
};

}  // namespace qxr8_test_support

#endif  // QXR8_TESTS_PLATFORM_SANDBOX_H_
