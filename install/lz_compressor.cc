#include "install/lz_compressor.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "install/kit_trailer.h"
#include "install/install_codes.h"
#include "install/path_status.h"
#include "install/space_check.h"
#include "platform/file_system.h"

namespace {

// A FileSystem handle carries the descriptor as its value.
int descriptor_of(void* handle) {
  return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

// Releases the mapping however the inflation ends.
class ReadOnlyMapping {
 public:
  ReadOnlyMapping() = default;
  ~ReadOnlyMapping() {
    if (m_data != MAP_FAILED && m_size != 0) munmap(m_data, m_size);
  }
  ReadOnlyMapping(const ReadOnlyMapping&) = delete;
  ReadOnlyMapping& operator=(const ReadOnlyMapping&) = delete;

  // Maps `size` bytes of `fd` private and read-only. 0 or an error code.
  unsigned map(int fd, uint32_t size) {
    m_size = size;
    m_data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (m_data == MAP_FAILED) {
      const int err = errno;
      return setLastErrorByErrNo(err);
    }
    return kErrorSuccess;
  }
  const uint8_t* data() const { return static_cast<const uint8_t*>(m_data); }

  // Drops the pages below `consumed` that inflation has read for good, so
  // that the resident part of the mapping stays a window of about kRelease
  // bytes however large the kit is. The mapping is private and read-only,
  // so the pages come back from the file if they are ever touched again.
  void releaseBelow(size_t consumed) {
    constexpr size_t kRelease = 1u << 20;
    const size_t end = consumed / kRelease * kRelease;
    if (end <= m_released) return;
    madvise(static_cast<uint8_t*>(m_data) + m_released, end - m_released, MADV_DONTNEED);
    m_released = end;
  }

 private:
  void* m_data = MAP_FAILED;
  size_t m_size = 0;
  size_t m_released = 0;
};

// Inflates the whole of the open `source` into `destination`. `checked`:
// the kit reader's reading, which checks a trailer and refuses bytes after
// the end of the stream that are not one (see lz_compressor.h).
unsigned inflate_file(void* source, void* destination, bool checked) {
  const uint32_t size = FileSystem::SetFilePointer(source, 0, nullptr, kFileEnd);
  // The 32-bit size must be the whole file: a directory, a device or a kit
  // of 4 GiB or more cannot be read as one mapping.
  struct stat status;
  if (fstat(descriptor_of(source), &status) != 0) {
    const int err = errno;
    return setLastErrorByErrNo(err);
  }
  if (!S_ISREG(status.st_mode)) return kErrorInvalidParameter;
  if (size == 0xFFFFFFFFu || static_cast<uint64_t>(status.st_size) != size) {
    return kErrorInvalidData;
  }
  // An empty kit has nothing to map and unpacks to nothing.
  if (size == 0) return kErrorSuccess;

  ReadOnlyMapping mapping;
  unsigned code = mapping.map(descriptor_of(source), size);
  if (code != kErrorSuccess) return code;

  // With a trailer the stream is only what comes before it.
  config::KitTrailer trailer;
  const bool hasTrailer = checked && config::find_kit_trailer(mapping.data(), size, trailer);
  const uint32_t streamSize =
      hasTrailer ? size - static_cast<uint32_t>(config::kKitTrailerSize) : size;

  z_stream stream = {};
  if (inflateInit2(&stream, -15) != Z_OK) return kErrorInvalidData;
  stream.next_in = const_cast<Bytef*>(mapping.data());
  stream.avail_in = streamSize;
  uLong crc = crc32(0L, Z_NULL, 0);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBufferSize]);

  int answer = Z_OK;
  unsigned writeCode = kErrorSuccess;
  bool tooLarge = false;
  do {
    stream.next_out = buffer.get();
    stream.avail_out = kBufferSize;
    const uLong before = stream.total_out;
    answer = inflate(&stream, Z_NO_FLUSH);
    // No input left is the normal end of a stream without its final block.
    if (answer == Z_BUF_ERROR && stream.avail_in == 0) answer = Z_OK;
    mapping.releaseBelow(streamSize - stream.avail_in);
    if (stream.total_out > kMaxUnpackedKitSize) {
      tooLarge = true;
      break;
    }
    const unsigned produced = static_cast<unsigned>(stream.total_out - before);
    // Stop before the temporary directory's file system is full rather
    // than fill it for everyone: a small kit may unpack to gigabytes.
    if (produced != 0 && check_space(descriptor_of(destination), std::string(), produced) !=
                             kErrorSuccess) {
      writeCode = kErrorDiskFull;
      break;
    }
    if (produced != 0) {
      if (hasTrailer) crc = crc32(crc, buffer.get(), produced);
      unsigned written = 0;
      writeCode = FileSystem::WriteFile(destination, buffer.get(), produced, &written, nullptr);
      if (writeCode != kErrorSuccess) break;
    }
  } while (answer == Z_OK && stream.avail_out == 0);
  inflateEnd(&stream);

  if (writeCode != kErrorSuccess) return writeCode;
  if (tooLarge || answer < 0) return kErrorInvalidData;
  if (hasTrailer) {
    // The stream must end exactly where the trailer begins, and unpack to
    // the bytes the trailer describes.
    if (answer != Z_STREAM_END || stream.avail_in != 0 || stream.total_out != trailer.length ||
        crc != trailer.crc) {
      return kErrorInvalidData;
    }
  } else if (checked && answer == Z_STREAM_END && stream.avail_in != 0) {
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
