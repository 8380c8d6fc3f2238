// A full disk on demand: a tmpfs of a few kilobytes mounted on a directory
// of the test's own, unmounted when the object goes. Needs the right to
// mount (root in a container that allows it); a test that cannot get one
// skips with the reason. Main test thread only.
#ifndef QXR8_TESTS_SUPPORT_SMALL_TMPFS_H_
#define QXR8_TESTS_SUPPORT_SMALL_TMPFS_H_

#include <string>

namespace test_support {

class SmallTmpfs {
 public:
  // Mounts a tmpfs of `kilobytes` on `directory`, which must exist.
  SmallTmpfs(const std::string& directory, unsigned kilobytes);
  // Unmounts (lazily, should a file still be open) and leaves the empty
  // directory.
  ~SmallTmpfs();
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  bool ok() const { return m_mounted; }
  // Why the mount was refused, for GTEST_SKIP.
  const std::string& reason() const { return m_reason; }

 private:
  std::string m_directory;
  bool m_mounted;
  std::string m_reason;
};

}  // namespace test_support

#endif  // QXR8_TESTS_SUPPORT_SMALL_TMPFS_H_
