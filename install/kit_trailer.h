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
// KitTrailerCheck holds the state of one reading: one thread at a time.
#ifndef QXR8_INSTALL_KIT_TRAILER_H_
#define QXR8_INSTALL_KIT_TRAILER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/status.h"

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

// Every rule by which a kit's trailer, or its lack of one, judges the kit:
// the one place that says when a kit is whole. The inflation gives it the
// unpacked bytes in order and, at the end, where the deflate stream ended;
// the reader gives it where the parsed file table ended. Each check answers
// an ok Status, or 13 with a note saying what does not match (no path: the
// caller adds the kit's).
class KitTrailerCheck {
 public:
  // For a kit whose file ends with `trailer`; version 0 for one without.
  explicit KitTrailerCheck(const KitTrailer& trailer);

  const KitTrailer& trailer() const { return m_trailer; }

  // Refuses values no kit can have (an unpacked length beyond `maxLength`,
  // a table end past the length), so that nothing is inflated for them.
  Status checkValues(uint64_t maxLength) const;

  // Where the output must pause so that the table's CRC-32 is taken at
  // its end: the table end of a version 2 trailer until it is checked,
  // else UINT64_MAX.
  uint64_t pauseAt() const;

  // Counts `size` more unpacked bytes (into the running CRC-32 when there
  // is a trailer to compare it with).
  void addUnpacked(const uint8_t* data, size_t size);

  // Once the bytes counted reach a version 2 trailer's table end: whether
  // they have its table CRC-32 (checked once; ok before and after).
  Status checkTable();

  // At the end of the stream: with a trailer the stream must have ended
  // with its final block (`streamEnded`) exactly where the trailer begins
  // (`bytesAfterStream` 0), and unpacked to the trailer's length and
  // CRC-32 (version 2: with its table checked on the way); without one,
  // no bytes may follow a stream that ended (a trailer whose magic was
  // damaged looks like them, so they are damage, not padding).
  Status checkWhole(bool streamEnded, uint64_t bytesAfterStream) const;

  // A version 2 trailer's table end must be where the parsed file table
  // ended (`dataStart`), so that a table-first reading reads every kit a
  // whole reading accepts. Ok for other versions.
  Status checkTableEnd(uint64_t dataStart) const;

 private:
  KitTrailer m_trailer;
  uint64_t m_unpacked = 0;
  uint32_t m_crc;
  bool m_tableChecked = false;
};

}  // namespace config

#endif  // QXR8_INSTALL_KIT_TRAILER_H_
