// Environment variables changed for a while and put back afterwards, so a
// test's private HOME, TMPDIR or PATH never leaks into the next test.
#ifndef QXR8_TESTS_SUPPORT_PRIVATE_ENV_H_
#define QXR8_TESTS_SUPPORT_PRIVATE_ENV_H_

#include <string>
#include <vector>

namespace test_support {

// Remembers each variable as it was before the object first touched it and
// restores it (unset again if it was unset) when the object goes, last
// changed first. The environment is process-wide: only the thread that
// runs the test may use it, and never while other threads read variables.
class EnvironmentGuard {
 public:
  EnvironmentGuard() = default;
  ~EnvironmentGuard();
  EnvironmentGuard(const EnvironmentGuard&) = delete;
  EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

  // Sets `name` to `value` for the object's life.
  void set(const char* name, const std::string& value);
  // Remembers `name` without changing it, for a test that changes it
  // itself.
  void save(const char* name);

 private:
  struct Saved {
    std::string name;
    bool wasSet;
    std::string value;
  };
  std::vector<Saved> m_saved;
};

}  // namespace test_support

#endif  // QXR8_TESTS_SUPPORT_PRIVATE_ENV_H_
