#include "tests/support/sandbox.h"

#include <unistd.h>

#include "platform/text_encoding.h"
#include "tests/support/file_io.h"

namespace test_support {

Sandbox::Sandbox(const std::string& enter) : m_root("/tmp", "qxr8-test-") {
  if (!m_root.ok()) return;
  for (const char* sub : {"home", "tmp", "work"}) make_dirs(path(sub));
  m_env.set("HOME", home());
  m_env.set("TMPDIR", tmp());
  m_ok = is_dir(home()) && is_dir(tmp()) && is_dir(work());
  if (m_ok && !enter.empty()) {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) m_oldCwd = cwd;
    make_dirs(path(enter));
    m_ok = chdir(path(enter).c_str()) == 0;
  }
}

Sandbox::~Sandbox() {
  // Without the old directory the test ends in "/" rather than in a
  // directory about to be removed.
  if (!m_oldCwd.empty() && chdir(m_oldCwd.c_str()) != 0 && chdir("/") != 0) {
    m_oldCwd.clear();
  }
}

wstring Sandbox::wpath(const std::string& relative) const { return widen_lib(path(relative)); }

wstring Sandbox::wwork(const std::string& relative) const { return widen_lib(work(relative)); }

std::vector<std::string> Sandbox::tmpEntries() const {
  if (!is_dir(tmp())) return {"<TMPDIR missing>"};
  return list_dir(tmp());
}

}  // namespace test_support
