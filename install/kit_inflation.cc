#include "install/kit_inflation.h"

#include <fcntl.h>
#include <zlib.h>

#include <algorithm>

#include "install/lz_compressor.h"
#include "platform/error_codes.h"
#include "platform/file_mapping.h"
#include "platform/path_status.h"
#include "platform/text_encoding.h"

namespace {

// How much is written between two looks at the temporary file system's room.
constexpr uint64_t kRoomRecheck = 1u << 20;

// How much of the file observeRest hands over at a time: what is resident
// of the mapping stays about this small.
constexpr size_t kObserveStep = 1u << 20;

Status failure_of(unsigned code, const wstring& path, const std::string& note) {
  Status status = error_status(code, path);
  status.note = widen_lib(note);
  return status;
}

config::KitTrailer no_trailer() {
  config::KitTrailer none;
  none.version = 0;
  return none;
}

}  // namespace

struct KitInflation::State {
  wstring path;
  File source;
  FileMapping mapping;
  size_t fileSize = 0;
  size_t streamSize = 0;  // the mapped bytes before the trailer
  bool checked = false;
  config::KitTrailerCheck check{no_trailer()};
  z_stream stream = {};
  bool streamOpen = false;
  std::unique_ptr<uint8_t[]> buffer;
  int answer = Z_OK;
  bool ended = false;  // the stream has no more output
  Status failure;
  KitSourceObserver observer;
  size_t observed = 0;  // the file's bytes the observer has seen, from offset 0

  uint64_t room = 0;       // free bytes of the destination last seen, less what was written since
  uint64_t sinceRoom = 0;  // bytes written since the room was last asked

  ~State() {
    if (streamOpen) inflateEnd(&stream);
  }

  // Hands the observer the file's bytes from where it stopped up to `end`.
  void observeUpTo(size_t end) {
    if (end <= observed) return;
    if (observer) observer(mapping.data() + observed, end - observed);
    observed = end;
  }

  Status damaged(const std::string& why) const { return failure_of(kErrorInvalidData, path, why); }
  Status inflateTo(InflationOutput& destination, uint64_t limit);
};

Status KitInflation::State::inflateTo(InflationOutput& destination, uint64_t limit) {
  for (;;) {
    Status status = check.checkTable();
    if (!status.ok()) {
      status.path = path;
      return status;
    }
    if (ended || stream.total_out >= limit) return Status();
    // A piece never runs past the table's end, so that its CRC is taken
    // there, nor past the caller's limit.
    const uint64_t stop = std::min(limit, check.pauseAt());
    const uint64_t wanted = stop - stream.total_out;
    const uInt piece = wanted < kBufferSize ? static_cast<uInt>(wanted) : kBufferSize;
    stream.next_out = buffer.get();
    stream.avail_out = piece;
    const uLong before = stream.total_out;
    answer = inflate(&stream, Z_NO_FLUSH);
    // No input left is the normal end of a stream without its final block.
    if (answer == Z_BUF_ERROR && stream.avail_in == 0) answer = Z_OK;
    // What the inflater took is observed before its pages are let go, so
    // that the observer reads the very bytes that were inflated.
    const size_t consumed = streamSize - stream.avail_in;
    observeUpTo(consumed);
    mapping.releaseBelow(consumed);
    if (stream.total_out > kMaxUnpackedKitSize) return damaged("it would unpack to 4 GiB or more");
    const unsigned produced = static_cast<unsigned>(stream.total_out - before);
    if (produced != 0) {
      // Stop before the temporary directory's file system is full rather
      // than fill it for everyone: a small kit may unpack to gigabytes. The
      // room is asked again once what was counted on is used up, or every
      // mebibyte (others write there too).
      if (produced > room || sinceRoom >= kRoomRecheck) {
        sinceRoom = 0;
        if (!descriptor_available_space(destination.descriptor(), room)) room = UINT64_MAX;
      }
      if (produced > room) {
        return failure_of(kErrorDiskFull, wstring(),
                          "the unpacked kit would fill the temporary directory's file system");
      }
      room -= produced;
      sinceRoom += produced;
      check.addUnpacked(buffer.get(), produced);
      status = destination.write(buffer.get(), produced);
      if (!status.ok()) return status;
    }
    if (answer < 0) {
      return damaged(std::string("its deflate stream is damaged") +
                     (stream.msg != nullptr ? std::string(" (") + stream.msg + ")" : ""));
    }
    // A buffer left unfilled means the input is used up.
    if (answer != Z_OK || stream.avail_out != 0) ended = true;
  }
}

KitInflation::KitInflation() = default;
KitInflation::~KitInflation() = default;

Status KitInflation::begin(const wstring& source, bool checked, KitSourceObserver observer) {
  close();
  std::unique_ptr<State> state(new State());
  state->path = source;
  state->checked = checked;
  state->observer = std::move(observer);
  // Anything that is not a regular file is refused before it is opened:
  // opening a FIFO would wait for a writer forever (O_NONBLOCK keeps one
  // put there meanwhile from blocking too).
  const PathKind kind = path_kind(source, true);
  if (kind != PathKind::kRegular && kind != PathKind::kMissing && kind != PathKind::kUnknown) {
    return failure_of(kErrorInvalidParameter, source, "it is not a regular file");
  }
  Status status = File::open(source, O_RDONLY | O_NONBLOCK, 0, state->source);
  if (!status.ok()) return status;
  FileInfo info;
  status = state->source.info(info);
  if (!status.ok()) return status;
  if (info.kind != PathKind::kRegular) {
    return failure_of(kErrorInvalidParameter, source, "it is not a regular file");
  }
  // One mapping, and 32-bit sizes throughout.
  if (info.size >= 0xFFFFFFFFu) return state->damaged("it is 4 GiB or more");
  state->fileSize = static_cast<size_t>(info.size);
  if (state->fileSize == 0) {
    // An empty kit has nothing to map and unpacks to nothing.
    state->ended = true;
    m_state = std::move(state);
    return Status();
  }
  status = state->mapping.map(state->source.descriptor(), state->fileSize);
  if (!status.ok()) {
    status.path = source;
    return status;
  }

  // With a trailer the stream is only what comes before it.
  config::KitTrailer trailer;
  if (checked && config::find_kit_trailer(state->mapping.data(), state->fileSize, trailer)) {
    state->check = config::KitTrailerCheck(trailer);
    // Values no kit can have are refused before anything is inflated.
    status = state->check.checkValues(kMaxUnpackedKitSize);
    if (!status.ok()) {
      status.path = source;
      return status;
    }
    state->streamSize = state->fileSize - trailer.size();
  } else {
    state->streamSize = state->fileSize;
  }
  if (inflateInit2(&state->stream, -15) != Z_OK) {
    return failure_of(kErrorInvalidData, source, "zlib could not start a stream");
  }
  state->streamOpen = true;
  state->stream.next_in = const_cast<Bytef*>(state->mapping.data());
  state->stream.avail_in = static_cast<uInt>(state->streamSize);
  state->buffer.reset(new uint8_t[kBufferSize]);
  m_state = std::move(state);
  return Status();
}

const config::KitTrailer& KitInflation::trailer() const {
  static const config::KitTrailer kNone = no_trailer();
  return m_state ? m_state->check.trailer() : kNone;
}

const wstring& KitInflation::source() const {
  static const wstring kNoPath;
  return m_state ? m_state->path : kNoPath;
}

Status KitInflation::inflateTo(InflationOutput& destination, uint64_t limit) {
  if (!m_state) return failure_of(kErrorInvalidParameter, wstring(), "no kit is being inflated");
  if (m_state->failure.ok()) m_state->failure = m_state->inflateTo(destination, limit);
  return m_state->failure;
}

uint64_t KitInflation::produced() const { return m_state ? m_state->stream.total_out : 0; }

Status KitInflation::finishTo(InflationOutput& destination) {
  Status status = inflateTo(destination, UINT64_MAX);
  if (status.ok()) {
    State& state = *m_state;
    // What follows the stream is part of the file too: its trailer, or
    // bytes the check below refuses.
    state.observeUpTo(state.fileSize);
    if (state.checked) {
      status = state.check.checkWhole(state.answer == Z_STREAM_END, state.stream.avail_in);
      if (!status.ok()) status.path = state.path;
    }
  }
  close();
  return status;
}

Status KitInflation::observeRest() {
  if (!m_state) return failure_of(kErrorInvalidParameter, wstring(), "no kit is being inflated");
  State& state = *m_state;
  if (!state.failure.ok()) return state.failure;
  for (size_t end = state.observed; end < state.fileSize;) {
    end = std::min(state.fileSize, end + kObserveStep);
    state.observeUpTo(end);
    state.mapping.releaseBelow(end);
  }
  state.failure = failure_of(kErrorInvalidParameter, state.path,
                             "the rest of the kit was observed without being inflated");
  return Status();
}

void KitInflation::close() { m_state.reset(); }
