// File systems a test can fill or cannot write: a tmpfs of a few kilobytes
// mounted on a directory of the test's own, unmounted (lazily, should a file
// still be open) when the object goes, which leaves the empty directory.
// Mounting needs the right to mount (root, in a container that allows it);
// a test that cannot get one skips with reason(). Main test thread only.
// Declared after the sandbox or temporary directory that holds it, so that
// it is unmounted before that tree is removed.
#ifndef QXR8_TESTS_SUPPORT_SMALL_TMPFS_H_
#define QXR8_TESTS_SUPPORT_SMALL_TMPFS_H_

#include <cstddef>
#include <memory>
#include <string>

namespace test_support {

class SmallTmpfs {
 public:
  // Mounts a tmpfs of `bytes` (rounded up to whole pages by the kernel) on
  // `directory`, made first when missing; with `readOnly` nothing can be
  // written to it at all, not even by root.
  SmallTmpfs(const std::string& directory, size_t bytes, bool readOnly = false);
  ~SmallTmpfs();
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  bool ok() const { return m_mounted; }
  // Why the mount was refused, for GTEST_SKIP.
  const std::string& reason() const { return m_reason; }
  const std::string& path() const { return m_directory; }
  // path() + "/" + relative.
  std::string path(const std::string& relative) const { return m_directory + "/" + relative; }
  // Writes the file "filler" until no more than about `leave` bytes are
  // free.
  void fillLeaving(size_t leave) const;

 private:
  std::string m_directory;
  bool m_mounted = false;
  std::string m_reason;
};

// The directory `path` (made here; it must not exist), where this process
// may not create files. For an ordinary user a directory of mode 0500 is
// enough; root ignores permissions, so for root a read-only SmallTmpfs is
// mounted on it. path() is "" when neither can be had (root without the
// right to mount); why() then says what failed.
class UnwritableDir {
 public:
  explicit UnwritableDir(const std::string& path);
  UnwritableDir(const UnwritableDir&) = delete;
  UnwritableDir& operator=(const UnwritableDir&) = delete;
  ~UnwritableDir();

  const std::string& path() const { return m_path; }
  const std::string& why() const { return m_why; }

 private:
  std::string m_path;
  std::string m_why;
  std::unique_ptr<SmallTmpfs> m_readOnly;
};

}  // namespace test_support

#endif  // QXR8_TESTS_SUPPORT_SMALL_TMPFS_H_
