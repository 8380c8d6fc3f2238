// The integrity trailer of a kit. Raw deflate carries no checksum, so the
// kit tool appends, after the end of the deflate stream, 20 bytes that every
// reader of the format can ignore (it stops at the end of the stream):
//
//   offset  size  field
//   0       8     magic "XDKCRC01" (58 44 4B 43 52 43 30 31)
//   8       4     CRC-32 of the unpacked kit (zlib's crc32), little-endian
//   12      8     length of the unpacked kit in bytes, little-endian
//
// A file "ends with a trailer" when its last 20 bytes begin with the magic.
// Pure functions over memory; any thread.
#ifndef QXR8_INSTALL_KIT_TRAILER_H_
#define QXR8_INSTALL_KIT_TRAILER_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace config {

inline constexpr size_t kKitTrailerSize = 20;
inline constexpr char kKitTrailerMagic[8] = {'X', 'D', 'K', 'C', 'R', 'C', '0', '1'};

struct KitTrailer {
  uint32_t crc = 0;     // zlib crc32 of the unpacked bytes
  uint64_t length = 0;  // number of unpacked bytes
};

// The 20 bytes of the trailer for `trailer`.
std::string encode_kit_trailer(const KitTrailer& trailer);

// True when `tail`, the last `size` bytes of a kit file, ends with a
// trailer; its values go to `trailer`. False (nothing stored) otherwise,
// also when `size` is below kKitTrailerSize.
bool find_kit_trailer(const uint8_t* tail, size_t size, KitTrailer& trailer);

// Whether the file at `path` (a narrow path) ends with a trailer: 1 yes,
// 0 no, -1 when it cannot be read (errno tells why). Looks at the last
// bytes only; whether they match the contents is the reader's check.
int kit_file_has_trailer(const std::string& path);

}  // namespace config

#endif  // QXR8_INSTALL_KIT_TRAILER_H_
