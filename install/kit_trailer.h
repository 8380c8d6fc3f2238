// The integrity trailer of a kit. Raw deflate carries no checksum, so the
// kit tool appends, after the end of the deflate stream, bytes that every
// reader of the format can ignore (it stops at the end of the stream).
// There are two versions; xdktool pack writes the second, readers accept
// both (and kits with none):
//
//   offset  size  version 1 (20 bytes)      version 2 (32 bytes)
//   0       8     magic "XDKCRC01"          magic "XDKCRC02"
//   8       4     CRC-32 of the unpacked kit
//   12      8     length of the unpacked kit in bytes
//   20      4                               CRC-32 of the header and file
//                                           table (the unpacked bytes
//                                           before the data area)
//   24      8                               their length, which is where
//                                           the data area begins
//
// CRCs are zlib's crc32, every value little-endian. The second version
// lets a reader trust the header and file table without inflating the
// data area behind them. A file "ends with a trailer" when its last 32
// bytes begin with the second magic, or else its last 20 bytes with the
// first. Pure functions over memory, and one file read; any thread.
#ifndef QXR8_INSTALL_KIT_TRAILER_H_
#define QXR8_INSTALL_KIT_TRAILER_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace config {

inline constexpr size_t kKitTrailerSize = 20;       // version 1
inline constexpr size_t kKitTableTrailerSize = 32;  // version 2
inline constexpr char kKitTrailerMagic[8] = {'X', 'D', 'K', 'C', 'R', 'C', '0', '1'};
inline constexpr char kKitTableTrailerMagic[8] = {'X', 'D', 'K', 'C', 'R', 'C', '0', '2'};

struct KitTrailer {
  unsigned version = 1;  // 1 or 2; 0 where a kit has none
  uint32_t crc = 0;      // zlib crc32 of the unpacked bytes
  uint64_t length = 0;   // number of unpacked bytes
  // Version 2: the crc32 and the number of the unpacked bytes up to the
  // end of the file table.
  uint32_t tableCrc = 0;
  uint64_t tableEnd = 0;

  // Its encoded size: 20, 32, or 0 for version 0.
  size_t size() const;
};

// The encoded bytes of `trailer` in its version (nothing for version 0).
std::string encode_kit_trailer(const KitTrailer& trailer);

// True when `tail`, the last `size` bytes of a kit file, ends with a
// trailer of either version; its values go to `trailer`. False (nothing
// stored) otherwise, also when `size` is too small to hold one.
bool find_kit_trailer(const uint8_t* tail, size_t size, KitTrailer& trailer);

// The version of the trailer the file at `path` (a narrow path) ends
// with: 1 or 2, 0 when it has none, -1 when it cannot be read (errno
// tells why). Looks at the last bytes only; whether they match the
// contents is the reader's check.
int kit_file_trailer_version(const std::string& path);

}  // namespace config

#endif  // QXR8_INSTALL_KIT_TRAILER_H_
