// Whole-file and directory helpers of the tests. Paths are narrow strings;
// links are never followed, so a test can look at a link itself. None of
// these throws; any thread may call them.
#ifndef QXR8_TESTS_SUPPORT_FILE_IO_H_
#define QXR8_TESTS_SUPPORT_FILE_IO_H_

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

// Replaces the file at `path` with exactly `bytes` (parents must exist).
// Returns false when the bytes could not be written.
bool write_file(const std::string& path, const std::string& bytes);

// Makes the parents of `path`, writes `bytes` to it and sets its access
// and modification time to `unixTime` seconds. False when it could not be
// written.
bool write_file(const std::string& path, const std::string& bytes, int64_t unixTime);

// Puts the whole content of `path` in `bytes`. Returns false, leaving
// `bytes` alone, when the file cannot be opened.
bool try_read_file(const std::string& path, std::string& bytes);

// The whole content of `path`; "" when it cannot be read.
std::string read_file(const std::string& path);

// The whole content of `path`; "<missing>" when it cannot be read, so that
// a check for an empty file is not met by a missing one.
std::string contents_of(const std::string& path);

// Whether anything, a dangling link too, stands at `path`.
bool file_exists(const std::string& path);

// Whether `path` itself (not a link's target) is a directory.
bool is_dir(const std::string& path);

// lstat of `path`; all zero (st_mode 0 matches no file type) when there
// is nothing.
struct stat lstat_of(const std::string& path);

// Makes `path` and its missing parents (mode 0755). Failures are ignored:
// the test's own checks show them.
void make_dirs(const std::string& path);

// Removes a file or a whole tree. Directories are made writable first (a
// test may have taken that away); links are removed, never followed.
// A missing path is fine.
void remove_tree(const std::string& path);

// The names in a directory ("." and ".." left out), sorted; empty when it
// cannot be read.
std::vector<std::string> list_dir(const std::string& path);

// Sets the access and modification time of `path` to `unixTime` seconds.
void set_mtime(const std::string& path, int64_t unixTime);

// The modification time of `path` (links followed) in Unix seconds; -1
// when it cannot be read.
int64_t get_mtime(const std::string& path);

// The number of open descriptors of this process.
int open_fd_count();

}  // namespace test_support

#endif  // QXR8_TESTS_SUPPORT_FILE_IO_H_
