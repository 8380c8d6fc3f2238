#include "tests/support/kit_builder.h"

#include <stdexcept>

#include "install/kit_writer.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "tests/support/file_io.h"

namespace test_support {

_FILETIME kit_time(int64_t unixSeconds) { return EpochToFileTime(static_cast<long>(unixSeconds)); }

_FILETIME file_time(uint32_t low, uint32_t high) {
  _FILETIME time;
  time.dwLowDateTime = low;
  time.dwHighDateTime = high;
  return time;
}

std::string default_kit_header() {
  return config::encode_single_header(u"Product", u"Vendor", u"");
}

std::string unpacked_kit(const std::string& header, const std::vector<KitFile>& files) {
  std::vector<config::KitEntry> entries;
  std::string data;
  for (const KitFile& file : files) {
    config::KitEntry entry;
    entry.name = file.wideName.empty() ? widen_lib(file.name) : file.wideName;
    entry.lastWriteTime = kit_time(file.mtime);
    entry.offset = static_cast<uint32_t>(data.size());
    entry.size = static_cast<uint32_t>(file.content.size());
    data += file.content;
    entries.push_back(entry);
  }
  return header + config::encode_file_table(entries) + data;
}

bool write_kit(const std::string& path, const std::vector<KitFile>& files,
               const std::string& header) {
  const std::string unpacked = unpacked_kit(header, files);
  size_t data = 0;
  for (const KitFile& file : files) data += file.content.size();
  return write_file(path, config::deflate_raw_with_trailer(unpacked, 6, unpacked.size() - data));
}

bool write_kit(const std::string& path, const std::vector<config::KitProductInfo>& records,
               const std::vector<KitFile>& files) {
  return write_kit(path, files, config::encode_multi_header(records));
}

std::string make_kit(const std::string& dir, const std::string& name,
                     const std::vector<KitFile>& files) {
  const std::string path = dir + "/" + name + ".xdk";
  if (!write_kit(path, files)) throw std::runtime_error("cannot write the kit " + path);
  return path;
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

}  // namespace test_support
