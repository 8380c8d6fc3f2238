#include "tests/support/private_env.h"

#include <stdlib.h>

namespace test_support {

void EnvironmentGuard::save(const char* name) {
  for (const Saved& saved : m_saved) {
    if (saved.name == name) return;  // the first value is the one to restore
  }
  const char* value = getenv(name);
  m_saved.push_back(Saved{name, value != nullptr, value != nullptr ? value : ""});
}

void EnvironmentGuard::set(const char* name, const std::string& value) {
  save(name);
  setenv(name, value.c_str(), 1);
}

EnvironmentGuard::~EnvironmentGuard() {
  for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
    if (it->wasSet) {
      setenv(it->name.c_str(), it->value.c_str(), 1);
    } else {
      unsetenv(it->name.c_str());
    }
  }
}

}  // namespace test_support
