// Shared pieces of the kit tests: a private directory with its own TMPDIR
// and HOME, file helpers, and kits built byte by byte.
#ifndef QXR8_TESTS_INSTALL_KIT_TEST_SUPPORT_H_
#define QXR8_TESTS_INSTALL_KIT_TEST_SUPPORT_H_

#include <string>
#include <vector>

#include "install/install_data.h"
#include "platform/wstring.h"

namespace kit_test {

// A fresh directory (mkdtemp) holding "tmp/" (TMPDIR while the sandbox
// lives), "home/" (HOME) and "work/" for the test's own files. Removed,
// with everything in it, at the end.
class KitSandbox {
 public:
  KitSandbox();
  ~KitSandbox();
  KitSandbox(const KitSandbox&) = delete;
  KitSandbox& operator=(const KitSandbox&) = delete;

  bool ok() const { return !m_root.empty(); }
  std::string tmp() const { return m_root + "/tmp"; }
  // A path below "work/".
  std::string work(const std::string& relative) const { return m_root + "/work/" + relative; }
  wstring wwork(const std::string& relative) const;
  // Names in the private TMPDIR; a reader that cleaned up leaves none.
  std::vector<std::string> tmpEntries() const;

 private:
  std::string m_root;
  std::string m_oldTmpdir, m_oldHome;
  bool m_hadTmpdir = false, m_hadHome = false;
};

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
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
