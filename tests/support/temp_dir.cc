#include "tests/support/temp_dir.h"

#include <stdlib.h>

#include "tests/support/file_io.h"

namespace test_support {

std::string make_temp_dir(const std::string& base, const std::string& prefix) {
  std::string pattern = base + "/" + prefix + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return std::string();
  return pattern;
}

TempDir::TempDir(const std::string& base, const std::string& prefix)
    : m_path(make_temp_dir(base, prefix)) {}

TempDir::~TempDir() {
  if (!m_path.empty()) remove_tree(m_path);
}

}  // namespace test_support
