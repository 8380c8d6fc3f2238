#include "install/kit_file_reader.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/byte_copy.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/random_name.h"
#include "platform/text_encoding.h"

namespace config {

namespace {

// The name of an unpacked kit while it has one: "edf" and six characters
// of this alphabet.
constexpr char kTempAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kTempAttempts = 100;

Status with_note(Status status, const char* note) {
  status.note = widen_lib(note);
  return status;
}

Status damaged(const wstring& kitPath, const char* why) {
  return with_note(error_status(kErrorInvalidData, kitPath), why);
}

// The temporary file could not be made: 1013 whatever the errno (123 for
// a name the system cannot take), which stays in the Status.
Status no_temporary_file(Status status) {
  if (status.code != kErrorInvalidName) status.code = kErrorCantWrite;
  return with_note(status, "no temporary file can be made for the unpacked kit");
}

}  // namespace

KitFileReader::KitFileReader() : m_buffer(new uint8_t[kCopyBufferSize]) {}

KitFileReader::~KitFileReader() { close(); }

void KitFileReader::setSourceObserver(KitSourceObserver observer) {
  m_observer = std::move(observer);
}

void KitFileReader::setOriginCheck(KitOriginCheck* check) { m_origin = check; }

void KitFileReader::setWriteCounter(std::atomic<uint64_t>* counter) { m_written = counter; }

void KitFileReader::sawWholeFile() {
  if (m_fileSeen) return;
  m_fileSeen = true;
  if (m_ownFileHash) m_fileHash = m_fileHasher.finish();
}

Status KitFileReader::originVerdict() {
  sawWholeFile();
  return m_origin != nullptr ? m_origin->finish() : Status();
}

InflationOutput& KitFileReader::restOutput() {
  m_restOutput.reset(new FileOutput(m_unpacked));
  m_entryHashes.reset(new EntryHashes(*m_restOutput, m_rest ? m_rest->produced() : UINT64_MAX,
                                      m_entries));
  return *m_entryHashes;
}

Status KitFileReader::entryHash(size_t index, FileHash& out) {
  if (m_stage != KitStage::kWhole) return error_status(kErrorInvalidParameter);
  // A kit read whole at open was unpacked before its table was known:
  // every entry is read back.
  if (!m_entryHashes) restOutput();
  return m_entryHashes->hashOf(index, m_unpacked, out);
}

bool KitFileReader::fileHash(KitHash& out) {
  if (!m_fileSeen) return false;
  if (!m_ownFileHash) {
    if (m_origin == nullptr || !m_origin->expectsHash()) return false;
    out = m_origin->fileHash();
    return true;
  }
  out = m_fileHash;
  return true;
}

Status KitFileReader::proveOrigin() {
  switch (m_stage) {
    case KitStage::kClosed:
      return with_note(error_status(kErrorInvalidParameter), "the kit is not open");
    case KitStage::kCompleting: return finishCompletion();
    case KitStage::kWhole: return m_origin != nullptr ? m_origin->verdict() : Status();
    case KitStage::kTableRead: break;
  }
  if (m_origin == nullptr || !m_origin->expectsHash()) return Status();
  Status status = observeRest();
  if (status.ok()) status = originVerdict();
  return closedOnFailure(status);
}

Status KitFileReader::open(const wstring& kitPath) {
  return closedOnFailure(openSteps(kitPath, false));
}

Status KitFileReader::openTable(const wstring& kitPath) {
  return closedOnFailure(openSteps(kitPath, true));
}

Status KitFileReader::closedOnFailure(const Status& status) {
  if (!status.ok()) close();
  return status;
}

void KitFileReader::close() {
  // The inflation thread writes to the file closed below.
  m_completion.stop();
  m_rest.reset();
  m_entryHashes.reset();
  m_restOutput.reset();
  m_fileSeen = false;
  m_unpacked = File();
  m_entries.clear();
  m_kitPath.clear();
  m_stage = KitStage::kClosed;
}

Status KitFileReader::createUnpackedFile() {
  wstring tempPath;
  FileSystem::GetTempPath(tempPath);
  Directory temp;
  Status status = Directory::open(tempPath, temp);
  if (!status.ok()) return no_temporary_file(status);
  SystemName name;
  for (int attempt = 0;; ++attempt) {
    name.bytes = "edf" + random_characters(kTempAlphabet, 6);
    // Exclusive and never through a link: a name planted in a shared
    // TMPDIR is never opened.
    status = temp.openFile(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600, m_unpacked);
    if (status.ok()) break;
    if (status.systemError != EEXIST || attempt + 1 == kTempAttempts) {
      return no_temporary_file(status);
    }
  }
  // The name goes before anything is written, so that no exit, not even a
  // crash during the inflation, leaves a copy of the kit behind; the
  // descriptor keeps the data until it is closed.
  status = temp.remove(name);
  if (!status.ok()) {
    m_unpacked = File();
    return no_temporary_file(status);
  }
  return Status();
}

Status KitFileReader::openSteps(const wstring& kitPath, bool tableFirst) {
  close();
  Status status = createUnpackedFile();
  if (!status.ok()) return status;

  KitSourceObserver observer = m_observer;
  if (m_origin != nullptr) m_origin->restartHash();
  // The kit file's hash names the kit in a catalog's record; an origin
  // check that proves a signature takes it already.
  m_ownFileHash = m_origin == nullptr || !m_origin->expectsHash();
  m_fileHasher = KitHasher();
  observer = [this, outer = m_observer](const uint8_t* data, size_t size) {
    if (outer) outer(data, size);
    if (m_origin != nullptr) m_origin->observe(data, size);
    if (m_ownFileHash) m_fileHasher.update(data, size);
  };
  std::unique_ptr<KitInflation> inflation(new KitInflation());
  status = inflation->begin(kitPath, true, std::move(observer));
  if (!status.ok()) return status;
  const KitTrailer trailer = inflation->trailer();
  FileOutput output(m_unpacked);
  // Only a trailer that checks the table lets the table be trusted alone.
  if (tableFirst && trailer.version == 2) {
    status = inflation->inflateTo(output, trailer.tableEnd);
    if (status.ok() && inflation->produced() != trailer.tableEnd) {
      status = damaged(kitPath, "it unpacks to less than its header and file table");
    }
    if (!status.ok()) return status;
    m_rest = std::move(inflation);
  } else {
    status = inflation->finishTo(output);
    // Nothing of a kit its signature does not cover is read further.
    if (status.ok()) status = originVerdict();
    if (!status.ok()) return status;
  }

  FileInfo unpacked;
  status = m_unpacked.info(unpacked);
  if (!status.ok()) return status;
  // Below kMaxUnpackedKitSize: the inflation stops there.
  const uint32_t size = static_cast<uint32_t>(unpacked.size);
  uint32_t dataStart = 0;
  status = read_kit_table(m_unpacked, size, m_buffer.get(), kCopyBufferSize, kitPath,
                          m_productInfo, m_entries, dataStart);
  if (!status.ok()) return status;
  status = KitTrailerCheck(trailer).checkTableEnd(dataStart);
  if (!status.ok()) {
    status.path = kitPath;
    return status;
  }
  // Every entry must lie inside the data area now, so that a damaged table
  // is refused before anything is installed rather than halfway through.
  // Not yet inflated, the data area has the size the trailer gives it.
  const uint64_t dataSize = m_rest ? trailer.length - trailer.tableEnd : size - dataStart;
  for (KitEntry& entry : m_entries) {
    if (static_cast<uint64_t>(entry.offset) + entry.size > dataSize) {
      return damaged(kitPath, "a file's bytes reach past the end of the kit");
    }
    entry.offset += dataStart;
  }
  m_kitPath = kitPath;
  m_stage = m_rest ? KitStage::kTableRead : KitStage::kWhole;
  return Status();
}

Status KitFileReader::complete() {
  switch (m_stage) {
    case KitStage::kClosed:
      return with_note(error_status(kErrorInvalidParameter), "the kit is not open");
    case KitStage::kWhole: return Status();
    case KitStage::kCompleting: return finishCompletion();
    case KitStage::kTableRead: break;
  }
  if (!m_rest) {
    return with_note(error_status(kErrorInvalidParameter, m_kitPath),
                     "the rest of the kit was observed without being inflated");
  }
  Status status = m_rest->finishTo(restOutput());
  m_rest.reset();
  if (status.ok()) status = originVerdict();
  if (status.ok()) m_stage = KitStage::kWhole;
  return closedOnFailure(status);
}

void KitFileReader::completeInBackground() {
  if (m_stage != KitStage::kTableRead || !m_rest) return;
  // The rest follows the table at the file's current position, which only
  // the inflation moves (every read is by position).
  InflationOutput& output = restOutput();
  m_completion.start(std::move(m_rest), output);
  m_stage = KitStage::kCompleting;
}

Status KitFileReader::finishCompletion() {
  if (m_stage != KitStage::kCompleting) return complete();
  Status status = m_completion.finish();
  if (status.ok()) status = originVerdict();
  if (status.ok()) m_stage = KitStage::kWhole;
  return closedOnFailure(status);
}

void KitFileReader::abandonCompletion() {
  if (m_stage == KitStage::kCompleting) close();
}

bool KitFileReader::completionFailed() {
  return m_stage == KitStage::kCompleting && m_completion.failed();
}

Status KitFileReader::observeRest() {
  switch (m_stage) {
    case KitStage::kWhole: return Status();
    case KitStage::kClosed:
    case KitStage::kCompleting:
      return with_note(error_status(kErrorInvalidParameter, m_kitPath),
                       "only a kit read as far as its file table has a rest to observe");
    case KitStage::kTableRead: break;
  }
  if (!m_rest) return Status();
  const Status status = m_rest->observeRest();
  if (status.ok()) sawWholeFile();
  // Nothing of the kit file is needed any more: it and its mapping go.
  m_rest.reset();
  return status;
}

Status KitFileReader::writeEntry(size_t index, int out) {
  if (index >= m_entries.size() || !holdsEntries()) return error_status(kErrorInvalidParameter);
  const KitEntry& entry = m_entries[index];
  // In slices, each copied as soon as its bytes have arrived, so that the
  // count of bytes written moves within a large entry while it is still
  // being inflated.
  uint64_t done = 0;
  do {
    const uint64_t slice = std::min<uint64_t>(entry.size - done, kProgressSlice);
    const uint64_t from = static_cast<uint64_t>(entry.offset) + done;
    if (m_stage == KitStage::kCompleting) {
      const Status arrived = m_completion.waitFor(from + slice);
      if (!arrived.ok()) return arrived;
    }
    const int err = copy_bytes(m_unpacked.descriptor(), from, slice, out, m_buffer.get(),
                               kCopyBufferSize);
    if (err == ENODATA) {
      return damaged(m_kitPath, "the unpacked kit ends before a file's last byte");
    }
    if (err != 0) return status_of_errno(err, wstring());
    done += slice;
    if (m_written != nullptr) m_written->fetch_add(slice, std::memory_order_relaxed);
  } while (done < entry.size);
  return Status();
}

Status KitFileReader::readEntry(size_t index, uint64_t from, void* data, size_t size,
                                size_t& got) const {
  got = 0;
  if (index >= m_entries.size() || !holdsEntries()) return error_status(kErrorInvalidParameter);
  const KitEntry& entry = m_entries[index];
  if (from >= entry.size) return Status();
  if (size > entry.size - from) size = static_cast<size_t>(entry.size - from);
  return m_unpacked.readAt(entry.offset + from, data, size, got);
}

Status KitFileReader::readUnpacked(uint64_t position, void* data, size_t size,
                                   size_t& got) const {
  got = 0;
  if (m_stage == KitStage::kClosed) return error_status(kErrorInvalidParameter);
  return m_unpacked.readAt(position, data, size, got);
}

}  // namespace config
