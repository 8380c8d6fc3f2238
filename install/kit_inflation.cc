#include "install/kit_inflation.h"

#include <zlib.h>

#include <cerrno>

#include "install/lz_compressor.h"
#include "platform/error_codes.h"
#include "platform/file.h"
#include "platform/file_mapping.h"
#include "platform/file_system.h"
#include "platform/path_status.h"

namespace {

// How much is written between two looks at the temporary file system's room.
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

struct KitInflation::State {
  void* source = kInvalidHandleValue;
  FileMapping mapping;
  uint32_t streamSize = 0;  // the mapped bytes before the trailer
  bool checked = false;
  config::KitTrailer trailer;
  z_stream stream = {};
  bool streamOpen = false;
  std::unique_ptr<uint8_t[]> buffer;
  uLong crc = crc32(0L, Z_NULL, 0);  // of every byte unpacked so far
  int answer = Z_OK;
  bool ended = false;  // the stream has no more output
  bool tableChecked = false;
  unsigned failure = kErrorSuccess;

  State() { trailer.version = 0; }
  ~State() {
    if (streamOpen) inflateEnd(&stream);
    if (source != kInvalidHandleValue) FileSystem::CloseHandle(source);
  }

  // The table CRC of a version 2 trailer, once the output has reached the
  // table's end: the running CRC is then exactly theirs.
  bool tableCheckFails() {
    if (trailer.version != 2 || tableChecked || stream.total_out != trailer.tableEnd) return false;
    tableChecked = true;
    return crc != trailer.tableCrc;
  }

  unsigned inflateTo(void* destination, uint64_t limit);
  unsigned wholeKitCheck() const;

  uint64_t room = 0;       // free bytes of the destination last seen, less what was written since
  uint64_t sinceRoom = 0;  // bytes written since the room was last asked
};

unsigned KitInflation::State::inflateTo(void* destination, uint64_t limit) {
  const int destinationFd = descriptor_of_handle(destination);
  const bool withCrc = trailer.version != 0;
  for (;;) {
    if (tableCheckFails()) return kErrorInvalidData;
    if (ended || stream.total_out >= limit) return kErrorSuccess;
    // A piece never runs past the table's end, so that its CRC is taken
    // there, nor past the caller's limit.
    uint64_t stop = limit;
    if (trailer.version == 2 && !tableChecked && trailer.tableEnd < stop) stop = trailer.tableEnd;
    const uint64_t wanted = stop - stream.total_out;
    const uInt piece = wanted < kBufferSize ? static_cast<uInt>(wanted) : kBufferSize;
    stream.next_out = buffer.get();
    stream.avail_out = piece;
    const uLong before = stream.total_out;
    answer = inflate(&stream, Z_NO_FLUSH);
    // No input left is the normal end of a stream without its final block.
    if (answer == Z_BUF_ERROR && stream.avail_in == 0) answer = Z_OK;
    mapping.releaseBelow(streamSize - stream.avail_in);
    if (stream.total_out > kMaxUnpackedKitSize) return kErrorInvalidData;
    const unsigned produced = static_cast<unsigned>(stream.total_out - before);
    if (produced != 0) {
      // Stop before the temporary directory's file system is full rather
      // than fill it for everyone: a small kit may unpack to gigabytes. The
      // room is asked again once what was counted on is used up, or every
      // mebibyte (others write there too).
      if (produced > room || sinceRoom >= kRoomRecheck) {
        sinceRoom = 0;
        if (!descriptor_available_space(destinationFd, room)) room = UINT64_MAX;
      }
      if (produced > room) return kErrorDiskFull;
      room -= produced;
      sinceRoom += produced;
      if (withCrc) crc = crc32(crc, buffer.get(), produced);
      unsigned written = 0;
      const unsigned code =
          FileSystem::WriteFile(destination, buffer.get(), produced, &written, nullptr);
      if (code != kErrorSuccess) return code;
    }
    if (answer < 0) return kErrorInvalidData;
    // A buffer left unfilled means the input is used up.
    if (answer != Z_OK || stream.avail_out != 0) ended = true;
  }
}

unsigned KitInflation::State::wholeKitCheck() const {
  if (!checked) return kErrorSuccess;
  if (trailer.version != 0) {
    // The stream must end exactly where the trailer begins, and unpack to
    // the bytes the trailer describes.
    if (answer != Z_STREAM_END || stream.avail_in != 0 || stream.total_out != trailer.length ||
        crc != trailer.crc || (trailer.version == 2 && !tableChecked)) {
      return kErrorInvalidData;
    }
  } else if (answer == Z_STREAM_END && stream.avail_in != 0) {
    // Bytes after the stream that are not a trailer: a trailer whose magic
    // was damaged looks like this, so they are damage, not padding.
    return kErrorInvalidData;
  }
  return kErrorSuccess;
}

KitInflation::KitInflation() = default;
KitInflation::~KitInflation() = default;

unsigned KitInflation::begin(const wstring& source, bool checked) {
  close();
  std::unique_ptr<State> state(new State());
  state->checked = checked;
  unsigned code = open_source(source, state->source);
  if (code != kErrorSuccess) return code;
  uint32_t size = 0;
  code = source_size(state->source, size);
  if (code != kErrorSuccess) return code;
  if (size == 0) {
    // An empty kit has nothing to map and unpacks to nothing.
    state->ended = true;
    m_state = std::move(state);
    return kErrorSuccess;
  }
  const Status mapped = state->mapping.map(descriptor_of_handle(state->source), size);
  if (!mapped.ok()) return setLastErrorByErrNo(mapped.systemError);

  // With a trailer the stream is only what comes before it.
  if (checked && config::find_kit_trailer(state->mapping.data(), size, state->trailer)) {
    const config::KitTrailer& trailer = state->trailer;
    // Values no kit can have are refused before anything is inflated.
    if (trailer.length > kMaxUnpackedKitSize || trailer.tableEnd > trailer.length) {
      return kErrorInvalidData;
    }
    state->streamSize = size - static_cast<uint32_t>(trailer.size());
  } else {
    state->streamSize = size;
  }
  if (inflateInit2(&state->stream, -15) != Z_OK) return kErrorInvalidData;
  state->streamOpen = true;
  state->stream.next_in = const_cast<Bytef*>(state->mapping.data());
  state->stream.avail_in = state->streamSize;
  state->buffer.reset(new uint8_t[kBufferSize]);
  m_state = std::move(state);
  return kErrorSuccess;
}

const config::KitTrailer& KitInflation::trailer() const {
  static const config::KitTrailer kNone = [] {
    config::KitTrailer none;
    none.version = 0;
    return none;
  }();
  return m_state ? m_state->trailer : kNone;
}

unsigned KitInflation::inflateTo(void* destination, uint64_t limit) {
  if (!m_state) return kErrorInvalidParameter;
  if (m_state->failure == kErrorSuccess) {
    m_state->failure = m_state->inflateTo(destination, limit);
  }
  return m_state->failure;
}

uint64_t KitInflation::produced() const { return m_state ? m_state->stream.total_out : 0; }

unsigned KitInflation::finishTo(void* destination) {
  unsigned code = inflateTo(destination, UINT64_MAX);
  if (code == kErrorSuccess) code = m_state->wholeKitCheck();
  close();
  return code;
}

void KitInflation::close() { m_state.reset(); }
