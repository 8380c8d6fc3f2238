#include "tests/install/kit_test_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "install/kit_writer.h"
#include "platform/text_encoding.h"

namespace kit_test {

KitSandbox::KitSandbox() : m_root("/tmp", "qxr8-kit-") {
  if (!m_root.ok()) return;
  for (const char* sub : {"tmp", "home", "work"}) mkdir((m_root / sub).c_str(), 0700);
  m_env.set("TMPDIR", tmp());
  m_env.set("HOME", m_root / "home");
}

wstring KitSandbox::wwork(const std::string& relative) const { return widen_lib(work(relative)); }

std::vector<std::string> KitSandbox::tmpEntries() const {
  if (!test_support::is_dir(tmp())) return {"<TMPDIR missing>"};
  return test_support::list_dir(tmp());
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
