// The reader of the distribution kit. `open` decompresses the whole kit into
// an anonymous temporary file, reads the product records and the file table
// into memory and keeps the file open; `writeEntry` (and `copy`, built on
// it) then write single entries out of it by position. `openTable` reads a
// kit that checks its header and table on their own (kit_trailer.h) only
// as far as its file table, and `complete` inflates the rest once an entry
// is to be written, so that a run with nothing to write never inflates the
// data area.
//
// Threads: one thread at a time uses an InstallData. The dialog opens it on
// the GUI thread before the worker exists; during an installation only the
// worker writes entries, and nobody else touches the object until it is
// done.
#ifndef QXR8_INSTALL_INSTALL_DATA_H_
#define QXR8_INSTALL_INSTALL_DATA_H_

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "install/kit_format.h"
#include "install/inflation_thread.h"
#include "install/kit_inflation.h"
#include "install/kit_trailer.h"
#include "install/lz_compressor.h"
#include "platform/byte_copy.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/wstring.h"

namespace config {

// One product record of the kit, per language.
struct KitProductInfo {
  wstring language;
  wstring product;
  wstring vendor;
  wstring description;
};

// One file of the kit. `offset` counts from the first byte of the data area
// as stored; after a successful `open` it is the absolute position in the
// unpacked temporary file.
struct KitEntry {
  wstring name;  // as stored: "\" or "/" between directories
  _FILETIME lastWriteTime;
  uint32_t offset;
  uint32_t size;
};

// Compressor: unpackTo(source path, open handle, trailer found) as
// LZCompressor has it; `open` reads through it. `openTable` always reads
// with KitInflation, the stepwise form of LZCompressor's reading.
// FS: the static operations of FileSystem.
template <class Compressor, class FS>
class InstallData {
 public:
  // What `open` read, for its callers to read (never to change): the
  // product records in kit order, and the entries in kit order, an entry's
  // index being its identity for `copy` and `writeEntry`.
  std::vector<KitProductInfo> productInfo;
  std::vector<KitEntry> entries;

  InstallData()
      : tempHandle(kInvalidHandleValue),
        bufferSize(kCopyBufferSize),
        buffer(new uint8_t[kCopyBufferSize]) {}
  // Closes the unpacked kit; its data go with the last handle.
  ~InstallData() { release(); }
  InstallData(const InstallData&) = delete;
  InstallData& operator=(const InstallData&) = delete;

  // Decompresses the kit at `kitPath` and reads its header and file table.
  // Returns 0 on success: `productInfo` has the kit's records appended,
  // `entries` holds the file table with absolute offsets, and the reader
  // is open. Otherwise returns the code of the failed step: FileSystem's
  // code (2 for a missing kit), 1013 when no temporary file can be made,
  // 13 for a stream that is not raw deflate and for every kind of damage
  // (an integrity trailer that does not match the unpacked bytes or the
  // end of the stream, bytes after the stream that are not a trailer, as
  // LZCompressor::unpackTo checks them; a field or record that runs past
  // the data or its record, a record size below 4, an entry whose bytes
  // reach past the data, an entry name that would leave the catalog).
  // After a failure `entries` is empty and the reader is closed;
  // `productInfo` keeps what was appended before the failure. In no case
  // does a temporary file remain on disk after `open` returns. A kit with
  // a version 2 trailer must also have its table end exactly where the
  // trailer says (else 13), so that `openTable` reads every kit `open`
  // accepts.
  unsigned open(const wstring& kitPath);

  // As `open`, but a kit whose trailer checks its header and file table on
  // their own (version 2) is inflated only as far as the end of its table,
  // which must have the trailer's table CRC-32; entries are checked against
  // the data area's size that the trailer gives. Such a reader is open but
  // not complete until `complete` has run. Any other kit (version 1
  // trailer, none) is read whole, as by `open`. The same codes as `open`.
  // For the kit tool's install, which may have nothing to write.
  unsigned openTable(const wstring& kitPath);

  // Inflates the rest of a kit opened by `openTable` and checks the kit as
  // `open` does (whole-kit CRC-32 and length, the end of the stream).
  // Returns 0 (at once for a reader that is already complete); 87 for a
  // reader that is not open; else the code of the failure (13 for damage,
  // 112 when the temporary directory's file system is full), after which
  // the reader is closed and `entries` is empty, as after a failed `open`.
  // Entries can be written only once it has succeeded.
  unsigned complete();

  // The same, on a thread of its own: returns at once, and entries become
  // writable as their bytes arrive (writeEntry waits for an entry's last
  // byte). finishCompletion then waits for the whole kit and gives its
  // code, closing the reader after a failure as complete does; a writeEntry
  // meanwhile fails with that code. abandonCompletion stops it and closes
  // the reader (a run that will write nothing more). Nothing happens for a
  // reader that is complete already. The caller's thread for all three.
  void completeInBackground();
  unsigned finishCompletion();
  void abandonCompletion();
  // Whether the background completion has ended in a failure (which
  // finishCompletion then gives).
  bool completionFailed() { return completion.started() && completion.failed(); }

  // Whether a successful `open` or `openTable` holds the unpacked kit.
  bool isOpen() const { return tempHandle != kInvalidHandleValue; }
  // The path the open kit was read from; empty when the reader is closed.
  const wstring& kitPath() const { return sourcePath; }
  // Whether it holds all of it: entries can be read and written.
  bool isComplete() const { return isOpen() && !rest; }

  // Writes the bytes of entry `index` to the open descriptor `out` from its
  // current position (the descriptor stays the caller's): the one way an
  // entry's content leaves the kit. Returns 0; 87 for an index out of range
  // or a reader that is not complete; 13 when the unpacked kit ends before the
  // entry's last byte; else the failed write's code, with its errno in
  // `systemError`. Uses the reader's own buffer: one caller at a time.
  unsigned writeEntry(unsigned long index, int out, int& systemError);

  // Writes entry `index` to `destination` (created if missing, cut to the
  // entry's size if longer) and gives it the entry's time. Returns 0, the
  // failing FileSystem step's code, 87 for an index out of range or a
  // reader that is not complete, or 13 when the unpacked kit ends before the
  // entry's last byte. The destination is closed in every case.
  unsigned copy(unsigned long index, const wstring& destination);

  // Reads up to `size` bytes of entry `index`, from byte `from` of the
  // entry, into `data`; `got` tells how many (fewer only at the entry's
  // end, none from its end on). 0; 87 for an index out of range or a
  // reader that is not complete; or the read's code. Does not use the
  // copy buffer, so it may run beside nothing but other reads.
  unsigned readEntry(unsigned long index, uint64_t from, void* data, size_t size,
                     size_t& got) const;

  // Reads up to `size` bytes of the unpacked kit from `position` (counted
  // from its first byte) into `data`; `got` tells how many (fewer only at
  // its end, which is the end of the file table while the reader is not
  // complete). 0, 87 when the reader is not open, or the read's code.
  unsigned readUnpacked(uint64_t position, void* data, size_t size, size_t& got) const;

 private:
  static constexpr uint32_t kCopyBufferSize = 0x100000;

  // The steps of `open` (and of `openTable` when `tableFirst`); the caller
  // runs the failure path on nonzero.
  unsigned openSteps(const wstring& kitPath, bool tableFirst);
  // Inflates the kit into the temporary file: whole, or (tableFirst and a
  // version 2 trailer) to its table end, keeping the rest in `rest`.
  // `trailer` gets the kit's trailer.
  unsigned inflateKit(const wstring& kitPath, bool tableFirst, config::KitTrailer& trailer);
  // The readers below take `remaining`, the bytes of the unpacked kit after
  // the current position, and lower it by what they consume. Each returns 0,
  // 13 when the field does not fit in `remaining` (nothing is read then), or
  // the code of a failed read.
  // They read ahead through the copy buffer (`buffered` bytes from
  // `bufferedAt`), so a table of thousands of records costs a few reads.
  unsigned readExact(void* data, uint32_t count, uint32_t& remaining);
  unsigned readU32(uint32_t& value, uint32_t& remaining);
  // A record's size field and the bytes it counts after itself.
  unsigned readRecord(std::vector<uint8_t>& record, uint32_t& remaining);
  // Append to `productInfo`; the file table replaces `entries`.
  unsigned readSingleHeader(uint32_t& remaining);
  unsigned readMultiHeader(uint32_t& remaining);
  unsigned readFileTable(uint32_t& remaining);
  // FileSystem's last error, or `fallback` when that is 0.
  unsigned lastErrorOr(unsigned fallback);
  // Closes the unpacked kit and removes a name still on disk.
  void release();
  // `code`; a failure first empties `entries` and closes the reader.
  unsigned closedOnFailure(unsigned code);

  // Name of the unpacked temporary file while a name exists on disk: it is
  // removed as soon as `open` holds the file open, so outside `open` this
  // is always empty.
  wstring tempFile;
  // The open unpacked kit, or kInvalidHandleValue.
  void* tempHandle;
  // The kit it was unpacked from, while it is open.
  wstring sourcePath;
  Compressor compressor;
  // The inflation of the data area still to be read after `openTable`;
  // null once the reader is complete (or closed).
  std::unique_ptr<KitInflation> rest;
  // The rest's inflation when completeInBackground runs it.
  InflationThread completion;
  // Chunk size of the buffered copies.
  uint32_t bufferSize;
  std::unique_ptr<uint8_t[]> buffer;
  // The read-ahead of the header and table in `buffer`.
  uint32_t bufferedAt = 0;
  uint32_t buffered = 0;
};

// ---------------------------------------------------------------------------

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::open(const wstring& kitPath) {
  return closedOnFailure(openSteps(kitPath, false));
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::openTable(const wstring& kitPath) {
  return closedOnFailure(openSteps(kitPath, true));
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::closedOnFailure(unsigned code) {
  if (code != kErrorSuccess) {
    entries.clear();
    release();
  }
  return code;
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::complete() {
  if (!isOpen()) return kErrorInvalidParameter;
  if (!rest) return kErrorSuccess;
  // The rest follows the table, where the entries' offsets start.
  unsigned code = kErrorSuccess;
  if (FS::SetFilePointer(tempHandle, 0, nullptr, kFileEnd) == 0xFFFFFFFFu) {
    code = lastErrorOr(kErrorInvalidData);
  } else {
    code = rest->finishTo(tempHandle);
  }
  rest.reset();
  return closedOnFailure(code);
}

template <class Compressor, class FS>
void InstallData<Compressor, FS>::completeInBackground() {
  if (!isOpen() || !rest) return;
  // The rest follows the table, where the entries' offsets start.
  if (FS::SetFilePointer(tempHandle, 0, nullptr, kFileEnd) == 0xFFFFFFFFu) return;
  completion.start(std::move(rest), tempHandle);
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::finishCompletion() {
  if (!completion.started()) return complete();
  return closedOnFailure(completion.finish());
}

template <class Compressor, class FS>
void InstallData<Compressor, FS>::abandonCompletion() {
  if (!completion.started()) return;
  completion.stop();
  entries.clear();
  release();
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::inflateKit(const wstring& kitPath, bool tableFirst,
                                                 config::KitTrailer& trailer) {
  if (!tableFirst) return compressor.unpackTo(kitPath, tempHandle, &trailer);
  std::unique_ptr<KitInflation> inflation(new KitInflation());
  unsigned code = inflation->begin(kitPath, true);
  if (code != kErrorSuccess) return code;
  trailer = inflation->trailer();
  // Only a trailer that checks the table lets the table be trusted alone.
  if (trailer.version != 2) return inflation->finishTo(tempHandle);
  code = inflation->inflateTo(tempHandle, trailer.tableEnd);
  if (code != kErrorSuccess) return code;
  if (inflation->produced() != trailer.tableEnd) return kErrorInvalidData;
  rest = std::move(inflation);
  return kErrorSuccess;
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::openSteps(const wstring& kitPath, bool tableFirst) {
  release();  // a second open starts from a closed reader

  wstring tempDirectory;
  unsigned code = FS::GetTempPath(tempDirectory);
  if (code != kErrorSuccess) return code;
  wstring name;
  code = FS::GetTempFileName(tempDirectory, u"edf", name);
  if (code != kErrorSuccess) return code;
  tempFile = name;

  // The file is opened and its name removed before anything is written, so
  // that no exit, not even a crash during the decompression, leaves a copy
  // of the kit behind; the handle keeps the data until it is closed.
  void* handle = kInvalidHandleValue;
  code = FS::CreateFile(tempFile, kGenericRead | kGenericWrite, 0, kOpenExisting, handle);
  if (code != kErrorSuccess) return code;
  if (handle == kInvalidHandleValue) return kErrorInvalidHandle;
  tempHandle = handle;
  FS::DeleteFile(tempFile);
  tempFile.clear();

  config::KitTrailer trailer;
  code = inflateKit(kitPath, tableFirst, trailer);
  if (code != kErrorSuccess) return code;

  const uint32_t size = FS::SetFilePointer(tempHandle, 0, nullptr, kFileEnd);
  if (size == 0xFFFFFFFFu) return lastErrorOr(kErrorInvalidData);
  if (FS::SetFilePointer(tempHandle, 0, nullptr, kFileBegin) != 0) {
    return lastErrorOr(kErrorInvalidData);
  }
  uint32_t remaining = size;
  bufferedAt = buffered = 0;

  uint32_t headerFlag = 0;
  code = readU32(headerFlag, remaining);
  if (code != kErrorSuccess) return code;
  code = headerFlag == 0 ? readSingleHeader(remaining) : readMultiHeader(remaining);
  if (code != kErrorSuccess) return code;
  code = readFileTable(remaining);
  if (code != kErrorSuccess) return code;

  // The data area starts where the table's last record ended.
  const uint32_t dataStart = size - remaining;
  if (trailer.version == 2 && dataStart != trailer.tableEnd) return kErrorInvalidData;
  // Every entry must lie inside the data area now, so that a damaged table
  // is refused before anything is installed rather than halfway through.
  // Not yet inflated, the data area has the size the trailer gives it.
  const uint64_t dataSize = rest ? trailer.length - trailer.tableEnd : remaining;
  for (KitEntry& entry : entries) {
    if (static_cast<uint64_t>(entry.offset) + entry.size > dataSize) return kErrorInvalidData;
    entry.offset += dataStart;
  }
  sourcePath = kitPath;
  return kErrorSuccess;
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::readExact(void* data, uint32_t count,
                                                uint32_t& remaining) {
  if (count > remaining) return kErrorInvalidData;
  uint8_t* out = static_cast<uint8_t*>(data);
  for (uint32_t left = count; left > 0;) {
    if (bufferedAt == buffered) {
      // Never past what the unpacked kit still holds.
      unsigned got = 0;
      const uint32_t want = std::min(bufferSize, remaining - (count - left));
      const unsigned code = FS::ReadFile(tempHandle, buffer.get(), want, &got, nullptr);
      if (code != kErrorSuccess) return lastErrorOr(code);
      if (got == 0) return kErrorInvalidData;
      bufferedAt = 0;
      buffered = got;
    }
    const uint32_t take = std::min(left, buffered - bufferedAt);
    std::memcpy(out, buffer.get() + bufferedAt, take);
    out += take;
    bufferedAt += take;
    left -= take;
  }
  remaining -= count;
  return kErrorSuccess;
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::readU32(uint32_t& value, uint32_t& remaining) {
  uint8_t bytes[4];
  const unsigned code = readExact(bytes, 4, remaining);
  if (code == kErrorSuccess) value = load_u32_le(bytes);
  return code;
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::readRecord(std::vector<uint8_t>& record,
                                                 uint32_t& remaining) {
  uint32_t recordSize = 0;
  unsigned code = readU32(recordSize, remaining);
  if (code != kErrorSuccess) return code;
  // Checked before the allocation: no record can claim more memory than
  // the unpacked data still holds.
  if (recordSize < 4 || recordSize - 4 > remaining) return kErrorInvalidData;
  record.resize(recordSize - 4);
  return readExact(record.data(), recordSize - 4, remaining);
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::readSingleHeader(uint32_t& remaining) {
  wstring fields[3];
  std::vector<uint8_t> units;
  for (wstring& field : fields) {
    uint32_t count = 0;
    unsigned code = readU32(count, remaining);
    if (code != kErrorSuccess) return code;
    if (static_cast<uint64_t>(count) * 2 > remaining) return kErrorInvalidData;
    units.resize(static_cast<size_t>(count) * 2);
    code = readExact(units.data(), count * 2, remaining);
    if (code != kErrorSuccess) return code;
    field = load_utf16_le(units.data(), count);
  }
  productInfo.push_back(KitProductInfo{u"en", fields[0], fields[1], fields[2]});
  return kErrorSuccess;
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::readMultiHeader(uint32_t& remaining) {
  uint32_t count = 0;
  unsigned code = readU32(count, remaining);
  if (code != kErrorSuccess) return code;
  if (count > remaining / kMinLanguageRecordSize) return kErrorInvalidData;
  std::vector<uint8_t> record;
  for (uint32_t i = 0; i < count; ++i) {
    code = readRecord(record, remaining);
    if (code != kErrorSuccess) return code;
    KitRecordReader fields(record.data(), record.size());
    KitProductInfo info;
    if (!fields.readString(info.language) || !fields.readString(info.product) ||
        !fields.readString(info.vendor) || !fields.readString(info.description)) {
      return kErrorInvalidData;
    }
    productInfo.push_back(std::move(info));
  }
  return kErrorSuccess;
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::readFileTable(uint32_t& remaining) {
  entries.clear();
  uint32_t count = 0;
  unsigned code = readU32(count, remaining);
  if (code != kErrorSuccess) return code;
  if (count > remaining / kMinFileRecordSize) return kErrorInvalidData;
  entries.reserve(count);
  std::vector<uint8_t> record;
  for (uint32_t i = 0; i < count; ++i) {
    code = readRecord(record, remaining);
    if (code != kErrorSuccess) return code;
    KitRecordReader fields(record.data(), record.size());
    KitEntry entry;
    if (!fields.readString(entry.name) || !fields.readU32(entry.lastWriteTime.dwLowDateTime) ||
        !fields.readU32(entry.lastWriteTime.dwHighDateTime) || !fields.readU32(entry.offset) ||
        !fields.readU32(entry.size)) {
      return kErrorInvalidData;
    }
    if (!kit_name_is_safe(entry.name)) return kErrorInvalidData;
    entries.push_back(std::move(entry));
  }
  return kErrorSuccess;
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::writeEntry(unsigned long index, int out, int& systemError) {
  systemError = 0;
  if (index >= entries.size() || !isComplete()) return kErrorInvalidParameter;
  const KitEntry& entry = entries[index];
  if (completion.started()) {
    const unsigned arrived = completion.waitFor(static_cast<uint64_t>(entry.offset) + entry.size);
    if (arrived != kErrorSuccess) return arrived;
  }
  const int err = copy_bytes(descriptor_of_handle(tempHandle), entry.offset, entry.size, out,
                             buffer.get(), bufferSize);
  // The unpacked kit ended before the entry did.
  if (err == ENODATA) return kErrorInvalidData;
  if (err == 0) return kErrorSuccess;
  systemError = err;
  return code_of_system_error(err);
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::copy(unsigned long index, const wstring& destination) {
  if (index >= entries.size() || !isComplete()) return kErrorInvalidParameter;
  const KitEntry& entry = entries[index];
  void* out = kInvalidHandleValue;
  unsigned code = FS::CreateFile(destination, kGenericWrite, 0, kCreateAlways, out);
  if (code != kErrorSuccess) return code;
  if (out == kInvalidHandleValue) return kErrorInvalidHandle;
  int systemError = 0;
  code = writeEntry(index, descriptor_of_handle(out), systemError);
  // CREATE_ALWAYS keeps an existing file's length: cut a longer old content.
  if (code == kErrorSuccess) code = FS::SetEndOfFile(out);
  if (code == kErrorSuccess) code = FS::SetFileTime(out, nullptr, nullptr, &entry.lastWriteTime);
  const unsigned closeCode = FS::CloseHandle(out);
  return code != kErrorSuccess ? code : closeCode;
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::readEntry(unsigned long index, uint64_t from, void* data,
                                                size_t size, size_t& got) const {
  got = 0;
  if (index >= entries.size() || !isComplete()) return kErrorInvalidParameter;
  const KitEntry& entry = entries[index];
  if (from >= entry.size) return kErrorSuccess;
  if (size > entry.size - from) size = static_cast<size_t>(entry.size - from);
  return descriptor_read_at(descriptor_of_handle(tempHandle), entry.offset + from, data, size, got)
      .code;
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::readUnpacked(uint64_t position, void* data, size_t size,
                                                   size_t& got) const {
  got = 0;
  if (!isOpen()) return kErrorInvalidParameter;
  return descriptor_read_at(descriptor_of_handle(tempHandle), position, data, size, got).code;
}

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::lastErrorOr(unsigned fallback) {
  const unsigned code = FS::GetLastError();
  return code != kErrorSuccess ? code : fallback;
}

template <class Compressor, class FS>
void InstallData<Compressor, FS>::release() {
  // The inflation thread writes to the handle closed below.
  completion.stop();
  rest.reset();
  sourcePath.clear();
  if (tempHandle != kInvalidHandleValue) {
    FS::CloseHandle(tempHandle);
    tempHandle = kInvalidHandleValue;
  }
  if (!tempFile.empty()) {
    FS::DeleteFile(tempFile);
    tempFile.clear();
  }
}

}  // namespace config

// The reader as the wizard, the engine and the kit tool use it.
using KitReader = config::InstallData<LZCompressor, FileSystem>;

#endif  // QXR8_INSTALL_INSTALL_DATA_H_
