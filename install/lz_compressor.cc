#include "install/lz_compressor.h"

#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "install/kit_trailer.h"
#include "platform/error_codes.h"
#include "platform/path_status.h"
#include "platform/file.h"
#include "platform/file_mapping.h"
#include "platform/file_system.h"

namespace {

// How much is written into the temporary file between two looks at its room.
constexpr uint64_t kRoomRecheck = 1u << 20;

// The 32-bit size of the open `source`, which must be a whole regular file:
// a directory, a device or a kit of 4 GiB or more cannot be read as one
// mapping. 0 or the code that refuses it.
unsigned source_size(void* source, uint32_t& size) {
  size = FileSystem::SetFilePointer(source, 0, nullptr, kFileEnd);
  FileInfo info;
  const Status status = descriptor_info(descriptor_of_handle(source), info);
  if (!status.ok()) return setLastErrorByErrNo(status.systemError);
  if (info.kind != PathKind::kRegular) return kErrorInvalidParameter;
  if (size == 0xFFFFFFFFu || info.size != size) return kErrorInvalidData;
  return kErrorSuccess;
}

// One inflation of a mapped stream into `destination`, with the CRC-32 of
// what it wrote when `withCrc`.
struct Inflation {
  int answer = Z_OK;
  unsigned writeCode = kErrorSuccess;
  bool tooLarge = false;
  uLong crc = crc32(0L, Z_NULL, 0);
  uLong totalOut = 0;
  uInt inputLeft = 0;
};

Inflation inflate_mapping(FileMapping& mapping, uint32_t streamSize, void* destination,
                          bool withCrc) {
  Inflation result;
  z_stream stream = {};
  if (inflateInit2(&stream, -15) != Z_OK) {
    result.answer = Z_MEM_ERROR;
    return result;
  }
  stream.next_in = const_cast<Bytef*>(mapping.data());
  stream.avail_in = streamSize;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBufferSize]);
  const int destinationFd = descriptor_of_handle(destination);
  uint64_t room = 0;     // free bytes last seen, less what was written since
  uint64_t written = 0;  // since the room was last asked
  do {
    stream.next_out = buffer.get();
    stream.avail_out = kBufferSize;
    const uLong before = stream.total_out;
    result.answer = inflate(&stream, Z_NO_FLUSH);
    // No input left is the normal end of a stream without its final block.
    if (result.answer == Z_BUF_ERROR && stream.avail_in == 0) result.answer = Z_OK;
    mapping.releaseBelow(streamSize - stream.avail_in);
    if (stream.total_out > kMaxUnpackedKitSize) {
      result.tooLarge = true;
      break;
    }
    const unsigned produced = static_cast<unsigned>(stream.total_out - before);
    if (produced == 0) continue;
    // Stop before the temporary directory's file system is full rather
    // than fill it for everyone: a small kit may unpack to gigabytes. The
    // room is asked again once what was counted on is used up, or every
    // mebibyte (others write there too).
    if (produced > room || written >= kRoomRecheck) {
      written = 0;
      if (!descriptor_available_space(destinationFd, room)) room = UINT64_MAX;
    }
    if (produced > room) {
      result.writeCode = kErrorDiskFull;
      break;
    }
    room -= produced;
    written += produced;
    if (withCrc) result.crc = crc32(result.crc, buffer.get(), produced);
    unsigned done = 0;
    result.writeCode = FileSystem::WriteFile(destination, buffer.get(), produced, &done, nullptr);
    if (result.writeCode != kErrorSuccess) break;
  } while (result.answer == Z_OK && stream.avail_out == 0);
  result.totalOut = stream.total_out;
  result.inputLeft = stream.avail_in;
  inflateEnd(&stream);
  return result;
}

// Inflates the whole of the open `source` into `destination`. `checked`:
// the kit reader's reading, which checks a trailer and refuses bytes after
// the end of the stream that are not one (see lz_compressor.h).
unsigned inflate_file(void* source, void* destination, bool checked) {
  uint32_t size = 0;
  unsigned code = source_size(source, size);
  if (code != kErrorSuccess) return code;
  // An empty kit has nothing to map and unpacks to nothing.
  if (size == 0) return kErrorSuccess;

  FileMapping mapping;
  const Status mapped = mapping.map(descriptor_of_handle(source), size);
  if (!mapped.ok()) return setLastErrorByErrNo(mapped.systemError);

  // With a trailer the stream is only what comes before it.
  config::KitTrailer trailer;
  const bool hasTrailer = checked && config::find_kit_trailer(mapping.data(), size, trailer);
  const uint32_t streamSize =
      hasTrailer ? size - static_cast<uint32_t>(config::kKitTrailerSize) : size;
  const Inflation result = inflate_mapping(mapping, streamSize, destination, hasTrailer);

  if (result.writeCode != kErrorSuccess) return result.writeCode;
  if (result.tooLarge || result.answer < 0) return kErrorInvalidData;
  if (hasTrailer) {
    // The stream must end exactly where the trailer begins, and unpack to
    // the bytes the trailer describes.
    if (result.answer != Z_STREAM_END || result.inputLeft != 0 ||
        result.totalOut != trailer.length || result.crc != trailer.crc) {
      return kErrorInvalidData;
    }
  } else if (checked && result.answer == Z_STREAM_END && result.inputLeft != 0) {
    // Bytes after the stream that are not a trailer: a trailer whose magic
    // was damaged looks like this, so they are damage, not padding.
    return kErrorInvalidData;
  }
  return kErrorSuccess;
}

// Opens the kit for reading. Anything that is not a regular file is refused
// before it is opened: opening a FIFO would wait for a writer forever.
unsigned open_source(const wstring& source, void*& handle) {
  const PathKind kind = path_kind(source, true);
  if (kind != PathKind::kRegular && kind != PathKind::kMissing && kind != PathKind::kUnknown) {
    return kErrorInvalidParameter;
  }
  return FileSystem::CreateFile(source, kGenericRead, 0, kOpenExisting, handle);
}

}  // namespace

unsigned LZCompressor::unpack(const wstring& source, const wstring& destination) const {
  void* in = kInvalidHandleValue;
  unsigned code = open_source(source, in);
  if (code != kErrorSuccess) return code;
  void* out = kInvalidHandleValue;
  code = FileSystem::CreateFile(destination, kGenericWrite, 0, kCreateAlways, out);
  if (code != kErrorSuccess) {
    FileSystem::CloseHandle(in);
    return code;
  }
  code = inflate_file(in, out, false);
  FileSystem::CloseHandle(out);
  FileSystem::CloseHandle(in);
  return code;
}

unsigned LZCompressor::unpackTo(const wstring& source, void* destination) const {
  void* in = kInvalidHandleValue;
  unsigned code = open_source(source, in);
  if (code != kErrorSuccess) return code;
  code = inflate_file(in, destination, true);
  FileSystem::CloseHandle(in);
  return code;
}

unsigned LZCompressor::pack(const wstring&, const wstring&) const { return 1; }
