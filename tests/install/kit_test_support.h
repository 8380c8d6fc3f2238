// Shared pieces of the kit tests: a private directory with its own TMPDIR
// and HOME, file helpers, and kits built byte by byte.
#ifndef QXR8_TESTS_INSTALL_KIT_TEST_SUPPORT_H_
#define QXR8_TESTS_INSTALL_KIT_TEST_SUPPORT_H_

#include <string>
#include <vector>

#include "install/install_data.h"
#include "platform/wstring.h"
#include "tests/support/file_io.h"
#include "tests/support/private_env.h"
#include "tests/support/temp_dir.h"

namespace kit_test {

// A fresh directory (mkdtemp) holding "tmp/" (TMPDIR while the sandbox
// lives), "home/" (HOME) and "work/" for the test's own files. Removed,
// with everything in it, at the end.
class KitSandbox {
 public:
  KitSandbox();
  KitSandbox(const KitSandbox&) = delete;
  KitSandbox& operator=(const KitSandbox&) = delete;

  bool ok() const { return m_root.ok(); }
  std::string tmp() const { return m_root / "tmp"; }
  // A path below "work/".
  std::string work(const std::string& relative) const { return m_root / ("work/" + relative); }
  wstring wwork(const std::string& relative) const;
  // Names in the private TMPDIR; a reader that cleaned up leaves none.
  std::vector<std::string> tmpEntries() const;

 private:
  // Removed after m_env has put TMPDIR and HOME back.
  test_support::TempDir m_root;
  test_support::EnvironmentGuard m_env;
};

using test_support::file_exists;
using test_support::read_file;
using test_support::write_file;
// Number of open descriptors of this process.
int open_fd_count();

// A file time from its two halves.
_FILETIME file_time(uint32_t low, uint32_t high);

// The unpacked form of the worked example: product "A", vendor "B", empty
// description, one entry "x" of time 0 holding "abc"; 53 bytes.
std::string worked_example_kit();

// An unpacked kit with a single-language header and `names`/`contents`
// packed one after another.
std::string single_language_kit(const std::vector<std::string>& names,
                                const std::vector<std::string>& contents);

}  // namespace kit_test

#endif  // QXR8_TESTS_INSTALL_KIT_TEST_SUPPORT_H_
