#include "tests/support/file_io.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace test_support {

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out.good();
}

bool try_read_file(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  bytes = content.str();
  return true;
}

bool write_file(const std::string& path, const std::string& bytes, int64_t unixTime) {
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) make_dirs(path.substr(0, slash));
  if (!write_file(path, bytes)) return false;
  set_mtime(path, unixTime);
  return true;
}

std::string contents_of(const std::string& path) {
  std::string bytes;
  return try_read_file(path, bytes) ? bytes : "<missing>";
}

struct stat lstat_of(const std::string& path) {
  struct stat st;
  std::memset(&st, 0, sizeof st);
  lstat(path.c_str(), &st);
  return st;
}

std::string read_file(const std::string& path) {
  std::string bytes;
  try_read_file(path, bytes);
  return bytes;
}

bool file_exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool is_dir(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void make_dirs(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') mkdir(path.substr(0, pos).c_str(), 0755);
  }
}

namespace {

// The entries of `path` without "." and "..", in directory order.
std::vector<std::string> read_names(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

}  // namespace

void remove_tree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);
    // All names first: removing while reading the directory may skip some.
    for (const std::string& name : read_names(path)) remove_tree(path + "/" + name);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

std::vector<std::string> list_dir(const std::string& path) {
  std::vector<std::string> names = read_names(path);
  std::sort(names.begin(), names.end());
  return names;
}

void set_mtime(const std::string& path, int64_t unixTime) {
  timeval times[2] = {{static_cast<time_t>(unixTime), 0}, {static_cast<time_t>(unixTime), 0}};
  utimes(path.c_str(), times);
}

int64_t get_mtime(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
}

int open_fd_count() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (dirent* item = readdir(dir)) {
    if (item->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - 1;  // the descriptor of the listing itself
}

}  // namespace test_support
