// The private sandbox of one test: a fresh directory (mkdtemp below /tmp)
// holding "home/" (HOME while the sandbox lives), "tmp/" (TMPDIR) and
// "work/" for the test's own files, and optionally the working directory.
// Whatever the code under test puts in HOME or TMPDIR, or a stray shell in
// the working directory, lands where the test can see it and goes with the
// sandbox. The environment is process-wide: one sandbox at a time, on the
// thread that runs the test, with no other thread reading variables.
#ifndef QXR8_TESTS_SUPPORT_SANDBOX_H_
#define QXR8_TESTS_SUPPORT_SANDBOX_H_

#include <string>
#include <vector>

#include "platform/wstring.h"
#include "tests/support/private_env.h"
#include "tests/support/temp_dir.h"

namespace test_support {

class Sandbox {
 public:
  // Makes the tree and points HOME and TMPDIR into it. With `enter`, the
  // directory root()/`enter` (made if missing; "." for the root itself) is
  // the working directory until the sandbox goes.
  explicit Sandbox(const std::string& enter = "");
  // The working directory comes back first; then the variables (the
  // members), then the tree goes, made writable first.
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // False when the tree could not be made or not entered.
  bool ok() const { return m_ok; }
  // The sandbox directory, without a trailing "/".
  const std::string& root() const { return m_root.path(); }
  // root() + "/" + relative, narrow and wide.
  std::string path(const std::string& relative) const { return m_root / relative; }
  wstring wpath(const std::string& relative) const;
  std::string home() const { return path("home"); }
  std::string tmp() const { return path("tmp"); }
  // A path below "work/" ("work/" itself for "").
  std::string work(const std::string& relative = "") const { return path("work/" + relative); }
  wstring wwork(const std::string& relative) const;
  // The names in the private TMPDIR, sorted: a run that cleaned up leaves
  // none. "<TMPDIR missing>" when the directory itself is gone.
  std::vector<std::string> tmpEntries() const;
  // Sets one more variable for the sandbox's life, put back with HOME and
  // TMPDIR.
  void setEnv(const char* name, const std::string& value) { m_env.set(name, value); }

 private:
  // Removed after m_env has put the variables back.
  TempDir m_root;
  EnvironmentGuard m_env;
  std::string m_oldCwd;
  bool m_ok = false;
};

}  // namespace test_support

#endif  // QXR8_TESTS_SUPPORT_SANDBOX_H_
