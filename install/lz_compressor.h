// The compression policy of the kit reader: the kit is one raw deflate
// stream, decompressed once, as a whole, into a file.
#ifndef QXR8_INSTALL_LZ_COMPRESSOR_H_
#define QXR8_INSTALL_LZ_COMPRESSOR_H_

#include <cstdint>

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
  // (an existing longer file is not shortened). Returns 0 on success (also
  // for an empty source, giving an empty destination, and for a stream that
  // ends before its end-of-stream block: the bytes decoded so far are kept);
  // the code of a failed open or write; 13 for data that is not raw deflate
  // or that would unpack beyond kMaxUnpackedKitSize; 87 (or the errno code)
  // when the source is not a regular file or cannot be mapped. Everything it
  // opened is closed before it returns.
  unsigned unpack(const wstring& source, const wstring& destination) const;

  // Like unpack, but writes to `destination`, a FileSystem handle opened for
  // writing that stays owned (and open) by the caller. Bytes are written
  // from the handle's current position.
  unsigned unpackTo(const wstring& source, void* destination) const;

  // Compression is not done here (the kit tool writes kits). Always 1;
  // reads and writes nothing.
  unsigned pack(const wstring& source, const wstring& destination) const;
};

#endif  // QXR8_INSTALL_LZ_COMPRESSOR_H_
