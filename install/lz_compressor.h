// A kit file inflated in one step, as a whole, into a file: the format's
// plain reading and the checked one. Both are KitInflation (kit_inflation.h)
// run to the end, as the kit reader's (kit_file_reader.h) is.
#ifndef QXR8_INSTALL_LZ_COMPRESSOR_H_
#define QXR8_INSTALL_LZ_COMPRESSOR_H_

#include <cstdint>

#include "install/kit_trailer.h"
#include "platform/wstring.h"

// Size of the output pieces written while inflating.
inline constexpr unsigned kBufferSize = 32768;

// Largest unpacked kit: offsets and sizes in the kit are 32-bit, and the
// file-pointer API answers 0xFFFFFFFF for a failure, so the unpacked data
// must stay below that value.
inline constexpr uint32_t kMaxUnpackedKitSize = 0xFFFFFFFEu;

// No state: every operation may run on any thread, concurrently.
class LZCompressor {
 public:
  // Inflates the raw deflate stream in `source` (read through a read-only
  // private mapping) into `destination`, which is opened with CREATE_ALWAYS
  // (an existing longer file is not shortened). This is the format's plain
  // reading: it stops at the end of the stream and ignores what follows, so
  // an integrity trailer (kit_trailer.h) is neither needed nor checked.
  // Returns 0 on success (also for an empty source, giving an empty
  // destination, and for a stream that ends before its end-of-stream block:
  // the bytes decoded so far are kept);
  // the code of a failed open or write; 112 when the next piece would not
  // fit on the destination's file system (nothing of it is written); 13 for
  // data that is not raw deflate
  // or that would unpack beyond kMaxUnpackedKitSize; 87 (or the errno code)
  // when the source is not a regular file or cannot be mapped. Everything it
  // opened is closed before it returns.
  unsigned unpack(const wstring& source, const wstring& destination) const;

  // The kit reader's reading: like unpack, but writes to `destination`, a
  // FileSystem handle opened for writing that stays owned (and open) by the
  // caller (bytes are written from its current position), and checks the
  // kit's integrity. When the source ends with a trailer (kit_trailer.h),
  // the stream is what precedes it and must end, with its end-of-stream
  // block, exactly where the trailer begins, and unpack to the trailer's
  // length and CRC-32 (and, version 2, its first table-end bytes to the
  // table CRC-32); otherwise 13. Without a trailer the kit is read as by
  // unpack, except that bytes after the end of the stream are refused with
  // 13 (they are not part of a kit, and a trailer whose magic was damaged
  // looks like them). `trailer`, when given, gets the trailer the kit ends
  // with (version 0 for none) once the source is open. The destination may
  // hold bytes written before a failure was found. Both readings are
  // KitInflation (kit_inflation.h) run in one step.
  unsigned unpackTo(const wstring& source, void* destination,
                    config::KitTrailer* trailer = nullptr) const;

  // Compression is not done here (the kit tool writes kits). Always 1;
  // reads and writes nothing.
  unsigned pack(const wstring& source, const wstring& destination) const;
};

#endif  // QXR8_INSTALL_LZ_COMPRESSOR_H_
