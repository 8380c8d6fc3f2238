// What a kit says of itself before its data area: the product records (the
// header, in one of its two forms) and the file table, and their reading
// from the unpacked kit. Plain values, and one function that reads an open
// file by position; any thread, one call per file at a time.
#ifndef QXR8_INSTALL_KIT_TABLE_H_
#define QXR8_INSTALL_KIT_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/status.h"
#include "platform/wstring.h"

namespace config {

// One product record of the kit, per language.
struct KitProductInfo {
  wstring language;
  wstring product;
  wstring vendor;
  wstring description;
};

// One file of the kit. `offset` counts from the first byte of the data area
// as stored; once a reader has opened the kit it is the absolute position
// in the unpacked kit.
struct KitEntry {
  wstring name;  // as stored: "\" or "/" between directories
  _FILETIME lastWriteTime;
  uint32_t offset;
  uint32_t size;
};

// Reads the header and file table from the first `size` bytes of
// `unpacked` (read by position; its file offset is neither used nor
// moved), reading ahead through `buffer` of `bufferSize` bytes so that a
// table of thousands of records costs a few reads. Appends the product
// records to `products`, replaces `entries` (offsets as stored, names
// checked with kit_name_is_safe), and sets `dataStart` to where the table
// ended. Returns ok; 13 naming `kitPath` with a note for damage (a field
// or record that runs past the data or its record, a record size below 4,
// an unsafe name), checked before anything is allocated for it, so that
// no record claims more memory than the data holds; or the failed read's
// Status. After a failure `products` keeps what was appended and `entries`
// holds what was read.
Status read_kit_table(const File& unpacked, uint32_t size, uint8_t* buffer, size_t bufferSize,
                      const wstring& kitPath, std::vector<KitProductInfo>& products,
                      std::vector<KitEntry>& entries, uint32_t& dataStart);

}  // namespace config

#endif  // QXR8_INSTALL_KIT_TABLE_H_
