// A private temporary directory for one test, with TMPDIR and HOME pointing
// into it and the working directory inside it, so that anything a stray
// shell might create lands where the test can see it. Everything is removed
// (without the code under test) when the sandbox ends.
#ifndef QXR8_TESTS_PLATFORM_SANDBOX_H_
#define QXR8_TESTS_PLATFORM_SANDBOX_H_

#include <errno.h>
#include <grp.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
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

// A directory inside the sandbox where this process may not create files.
// For an ordinary user a directory of mode 0500 is enough; root ignores
// permissions, so for root a small read-only tmpfs is mounted on it and
// unmounted again when the object goes (before the sandbox is removed).
// path() is "" when neither can be had (root without the right to mount,
// as in some containers); why() then says what failed.
class UnwritableDir {
 public:
  explicit UnwritableDir(const Sandbox& box) : m_path(box.path("ro")) {
    if (mkdir(m_path.c_str(), 0500) != 0) {
      fail("mkdir");
    } else if (geteuid() == 0) {
      m_mounted = mount("qxr8-ro", m_path.c_str(), "tmpfs",
                        MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC, "size=16k,mode=0755") == 0;
      if (!m_mounted) fail("mounting a read-only tmpfs");
    }
  }
  ~UnwritableDir() {
    if (m_mounted) umount2(m_path.c_str(), MNT_DETACH);
  }
  UnwritableDir(const UnwritableDir&) = delete;
  UnwritableDir& operator=(const UnwritableDir&) = delete;

  const std::string& path() const { return m_path; }
  const std::string& why() const { return m_why; }

 private:
  void fail(const char* what) {
    m_why = std::string(what) + " on " + m_path + " failed: " + strerror(errno);
    m_path.clear();
  }
  std::string m_path;
  std::string m_why;
  bool m_mounted = false;
};

// A tmpfs of `bytes` mounted on the fresh directory `dir`: a file system
// small enough to fill. Mounting needs root; ok() is false where it is
// refused. Unmounted when the object goes (before the sandbox is removed,
// when declared after it).
class SmallTmpfs {
 public:
  SmallTmpfs(const std::string& dir, size_t bytes) : m_dir(dir) {
    if (mkdir(dir.c_str(), 0755) != 0) return;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    m_mounted = mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  }
  ~SmallTmpfs() {
    if (m_mounted) umount2(m_dir.c_str(), MNT_DETACH);
  }
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;
  bool ok() const { return m_mounted; }
  std::string path(const std::string& relative) const { return m_dir + "/" + relative; }
  // Writes the file "filler" until no more than about `leave` bytes are free.
  void fillLeaving(size_t leave) const {
    struct statvfs info;
    if (statvfs(m_dir.c_str(), &info) != 0) return;
    const size_t free = static_cast<size_t>(info.f_bavail) * info.f_frsize;
    if (free > leave) write_text(path("filler"), std::string(free - leave, 'f'));
  }

 private:
  std::string m_dir;
  bool m_mounted = false;
};

// Runs `body` in a child process and returns its exit status (0..255), so
// that limits, umask and user changes stay in the child; -1 when the child
// did not exit normally. With `asNobody` (only as root) the child first
// becomes uid and gid 65534, for which permissions apply; 77 when it could
// not.
inline int run_in_child(bool asNobody, const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (asNobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
      _exit(77);
    }
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
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
