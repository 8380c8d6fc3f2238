// Writing kits: the encoding of the unpacked kit and its raw deflate
// compression. Used by the kit tool and by tests that build kits; the
// wizard never writes a kit. No shared state; any thread.
#ifndef QXR8_INSTALL_KIT_WRITER_H_
#define QXR8_INSTALL_KIT_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "install/install_data.h"
#include "install/kit_trailer.h"
#include "platform/wstring.h"

namespace config {

// Appends `value` as 4 little-endian bytes.
void append_u32_le(std::string& out, uint32_t value);
// Appends a count of UTF-16LE units and the units.
void append_kit_string(std::string& out, const wstring& text);

// headerFlag 0 and the three strings of a single-language header.
std::string encode_single_header(const wstring& product, const wstring& vendor,
                                 const wstring& description);
// One language record; `padding` zero bytes follow its last field and are
// counted in its size.
std::string encode_language_record(const KitProductInfo& record, uint32_t padding = 0);
// `flag` (nonzero), the record count and the records.
std::string encode_multi_header(const std::vector<KitProductInfo>& records, uint32_t flag = 1);
// One file record, with `padding` as for language records.
std::string encode_file_record(const KitEntry& entry, uint32_t padding = 0);
// The entry count and the records, offsets as given (relative to the data).
std::string encode_file_table(const std::vector<KitEntry>& entries);

// A raw deflate stream (window bits -15, no wrapper) that hands every
// compressed piece to a sink. Output depends only on the level and the
// bytes fed, so kits are reproducible.
class RawDeflater {
 public:
  // Returns false to stop the compression (for example a failed write).
  using Sink = std::function<bool(const uint8_t* data, size_t size)>;

  // `level` 0 (stored) to 9 (smallest).
  RawDeflater(int level, Sink sink);
  ~RawDeflater();
  RawDeflater(const RawDeflater&) = delete;
  RawDeflater& operator=(const RawDeflater&) = delete;

  // Each returns false once zlib or the sink failed; later calls do nothing.
  bool write(const void* data, size_t size);
  // Ends the stream with its final block.
  bool finish();

  // The CRC-32 and the number of the bytes given to `write` so far: what
  // the kit's integrity trailer records.
  KitTrailer trailer() const { return m_trailer; }

 private:
  bool run(int flush);

  struct State;
  State* m_state;
  Sink m_sink;
  bool m_ok;
  KitTrailer m_trailer;
};

// Compresses `data` as one raw deflate stream.
std::string deflate_raw(const std::string& data, int level = 9);

// For an unpacked kit `data` whose header and file table take its first
// `tableEnd` bytes: `tableEnd` is not known.
inline constexpr size_t kNoTableEnd = SIZE_MAX;
// The integrity trailer of the unpacked kit `data`: version 2, as write_kit
// writes it, when `tableEnd` is given, else the version 1 trailer of
// earlier kits.
KitTrailer kit_trailer_of(const std::string& data, size_t tableEnd = kNoTableEnd);
// The stream of `data` followed by kit_trailer_of(data, tableEnd): with
// `tableEnd`, a kit file as write_kit makes it.
std::string deflate_raw_with_trailer(const std::string& data, int level = 9,
                                     size_t tableEnd = kNoTableEnd);

// One file to be packed: its name in the kit, its time, the file it is read
// from (a narrow path) and its size, which must not change while packing.
struct KitSourceFile {
  wstring name;
  _FILETIME lastWriteTime;
  std::string path;
  uint64_t size;
};

// Writes the kit `header` (an encoded single- or multi-language header), the
// file table of `files` (offsets in list order) and their contents to
// `outputPath`, raw deflated at `level` and followed by the integrity
// trailer (version 2: the header and table have a CRC of their own). The
// kit is written to a temporary file beside `outputPath`
// (".NAME.tmp…", created with mode 0644 less the umask), flushed to disk
// and renamed over `outputPath` only when complete, so a previous kit there
// stays as it was until the new one replaces it whole. Returns true, or
// false with a message naming the path and the system's reason in `error`;
// the temporary file is removed then and `outputPath` is untouched. A
// crash may leave the temporary file, never a partial kit at `outputPath`.
//
// `progress`, when given, hears after every chunk read how many bytes of
// the files' total have been packed, and the path being read.
using PackProgress =
    std::function<void(uint64_t packed, uint64_t total, const std::string& path)>;
bool write_kit(const std::string& outputPath, const std::string& header,
               const std::vector<KitSourceFile>& files, int level, std::string& error,
               const PackProgress& progress = PackProgress());

}  // namespace config

#endif  // QXR8_INSTALL_KIT_WRITER_H_
