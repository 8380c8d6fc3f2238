#include "tests/install/kit_test_support.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "install/kit_writer.h"
#include "platform/text_encoding.h"

namespace kit_test {

KitSandbox::KitSandbox() {
  if (const char* old = getenv("TMPDIR")) {
    m_hadTmpdir = true;
    m_oldTmpdir = old;
  }
  if (const char* old = getenv("HOME")) {
    m_hadHome = true;
    m_oldHome = old;
  }
  std::string pattern = "/tmp/qxr8-kit-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return;
  m_root = pattern;
  for (const char* sub : {"/tmp", "/home", "/work"}) mkdir((m_root + sub).c_str(), 0700);
  setenv("TMPDIR", tmp().c_str(), 1);
  setenv("HOME", (m_root + "/home").c_str(), 1);
}

KitSandbox::~KitSandbox() {
  if (m_hadTmpdir) {
    setenv("TMPDIR", m_oldTmpdir.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  if (m_hadHome) {
    setenv("HOME", m_oldHome.c_str(), 1);
  } else {
    unsetenv("HOME");
  }
  if (!m_root.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
  }
}

wstring KitSandbox::wwork(const std::string& relative) const { return widen_lib(work(relative)); }

std::vector<std::string> KitSandbox::tmpEntries() const {
  std::vector<std::string> names;
  DIR* dir = opendir(tmp().c_str());
  if (dir == nullptr) return {"<TMPDIR missing>"};
  while (dirent* item = readdir(dir)) {
    if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0) {
      names.push_back(item->d_name);
    }
  }
  closedir(dir);
  return names;
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
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

_FILETIME file_time(uint32_t low, uint32_t high) {
  _FILETIME time;
  time.dwLowDateTime = low;
  time.dwHighDateTime = high;
  return time;
}

std::string worked_example_kit() {
  static const unsigned char bytes[] = {
      0x00, 0x00, 0x00, 0x00,                          // headerFlag
      0x01, 0x00, 0x00, 0x00, 0x41, 0x00,              // "A"
      0x01, 0x00, 0x00, 0x00, 0x42, 0x00,              // "B"
      0x00, 0x00, 0x00, 0x00,                          // ""
      0x01, 0x00, 0x00, 0x00,                          // M = 1
      0x1A, 0x00, 0x00, 0x00,                          // record size 26
      0x01, 0x00, 0x00, 0x00, 0x78, 0x00,              // "x"
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // time
      0x00, 0x00, 0x00, 0x00,                          // offset
      0x03, 0x00, 0x00, 0x00,                          // size
      0x61, 0x62, 0x63,                                // data
  };
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string single_language_kit(const std::vector<std::string>& names,
                                const std::vector<std::string>& contents) {
  std::vector<config::KitEntry> entries;
  std::string data;
  for (size_t i = 0; i < names.size(); ++i) {
    entries.push_back(config::KitEntry{widen_lib(names[i]), file_time(0, 0),
                                       static_cast<uint32_t>(data.size()),
                                       static_cast<uint32_t>(contents[i].size())});
    data += contents[i];
  }
  return config::encode_single_header(u"Product", u"Vendor", u"docs/about.html") +
         config::encode_file_table(entries) + data;
}

}  // namespace kit_test
