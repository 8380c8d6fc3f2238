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
#include <string>

#include "platform/text_encoding.h"
#include "platform/wstring.h"
#include "tests/support/file_io.h"
#include "tests/support/private_env.h"
#include "tests/support/temp_dir.h"

namespace qxr8_test_support {

// Makes a fresh directory below `base` (mkdtemp); empty on failure.
inline std::string make_temp_dir(const std::string& base) {
  return test_support::make_temp_dir(base, "qxr8-platform-");
}

using test_support::is_dir;
inline bool exists(const std::string& path) { return test_support::file_exists(path); }
inline void write_text(const std::string& path, const std::string& text) {
  test_support::write_file(path, text);
}
inline std::string read_text(const std::string& path) { return test_support::read_file(path); }

class Sandbox {
 public:
  Sandbox() : m_root("/tmp", "qxr8-platform-") {
    if (getcwd(m_oldCwd, sizeof m_oldCwd) == nullptr) m_oldCwd[0] = '\0';
    std::filesystem::create_directories(m_root / "tmp");
    std::filesystem::create_directories(m_root / "home");
    m_env.set("TMPDIR", m_root / "tmp");
    m_env.set("HOME", m_root / "home");
    m_inside = m_root.ok() && chdir(m_root.path().c_str()) == 0;
  }
  // The environment and the directory go with the members, after the
  // working directory is back where it was.
  ~Sandbox() {
    if (m_oldCwd[0] != '\0' && chdir(m_oldCwd) != 0) m_oldCwd[0] = '\0';
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  bool ok() const { return m_root.ok() && m_inside; }
  // The sandbox directory (no trailing "/"), narrow and wide.
  const std::string& root() const { return m_root.path(); }
  std::string path(const std::string& relative) const { return m_root / relative; }
  wstring wpath(const std::string& relative) const { return widen_lib(path(relative)); }

 private:
  // Removed (made writable first) after m_env has put TMPDIR and HOME back.
  test_support::TempDir m_root;
  test_support::EnvironmentGuard m_env;
  char m_oldCwd[4096] = {};
  bool m_inside = false;
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
