// Kits for the tests, built with the real encoder and raw deflate of the
// kit writer: from a list of files, or byte by byte where a test needs the
// exact unpacked form. Pure functions and file writes; any thread.
#ifndef QXR8_TESTS_SUPPORT_KIT_BUILDER_H_
#define QXR8_TESTS_SUPPORT_KIT_BUILDER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "install/install_data.h"
#include "platform/wstring.h"

namespace test_support {

// One file of a test kit.
struct KitFile {
  std::string name;  // as stored in the kit (UTF-8; "\" or "/")
  std::string content;
  int64_t mtime;  // its last-write time in Unix seconds
  wstring wideName = wstring();  // stored instead of `name` when not empty
};

// A kit file time from Unix seconds, and from its two halves.
_FILETIME kit_time(int64_t unixSeconds);
_FILETIME file_time(uint32_t low, uint32_t high);

// The single-language header most tests use: product "Product", vendor
// "Vendor", no description.
std::string default_kit_header();

// The unpacked kit: `header` (config::encode_single_header or
// encode_multi_header), the file table of `files` and their bytes one
// after another, in the order given (a kit may name one file twice).
std::string unpacked_kit(const std::string& header, const std::vector<KitFile>& files);

// Writes the kit of `files` to `path` as the kit tool does: one raw
// deflate stream of the unpacked kit followed by its integrity trailer
// (version 2, which checks the header and table on their own too).
// False when it could not be written.
bool write_kit(const std::string& path, const std::vector<KitFile>& files,
               const std::string& header = default_kit_header());
// The same with a multi-language header of `records`.
bool write_kit(const std::string& path, const std::vector<config::KitProductInfo>& records,
               const std::vector<KitFile>& files);

// Writes `dir`/`name`.xdk (write_kit with the default header) and returns
// its path; throws std::runtime_error when it cannot, as no test can go on
// without its kit.
std::string make_kit(const std::string& dir, const std::string& name,
                     const std::vector<KitFile>& files);

// The unpacked form of the worked example, spelled out byte by byte:
// product "A", vendor "B", empty description, one entry "x" of time 0
// holding "abc"; 53 bytes.
std::string worked_example_kit();

// An unpacked kit with the header of product "Product", vendor "Vendor" and
// description "docs/about.html", and `names` holding `contents` (time 0).
std::string single_language_kit(const std::vector<std::string>& names,
                                const std::vector<std::string>& contents);

}  // namespace test_support

#endif  // QXR8_TESTS_SUPPORT_KIT_BUILDER_H_
