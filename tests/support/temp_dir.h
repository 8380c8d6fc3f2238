// Fresh temporary directories for tests, made with mkdtemp so that tests
// running at the same time never share one.
#ifndef QXR8_TESTS_SUPPORT_TEMP_DIR_H_
#define QXR8_TESTS_SUPPORT_TEMP_DIR_H_

#include <string>

namespace test_support {

// Makes the directory `base`/`prefix`XXXXXX (mode 0700) and returns its
// path; "" when mkdtemp fails. The caller removes it.
std::string make_temp_dir(const std::string& base, const std::string& prefix);

// Owns a directory made by make_temp_dir and removes it, with everything
// in it (remove_tree), when the object goes. Not copyable.
class TempDir {
 public:
  explicit TempDir(const std::string& base = "/tmp", const std::string& prefix = "qxr8-");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // False when the directory could not be made; path() is "" then.
  bool ok() const { return !m_path.empty(); }
  // The directory, without a trailing "/".
  const std::string& path() const { return m_path; }
  // path() + "/" + relative.
  std::string operator/(const std::string& relative) const { return m_path + "/" + relative; }

 private:
  std::string m_path;
};

}  // namespace test_support

#endif  // QXR8_TESTS_SUPPORT_TEMP_DIR_H_
