// The kit reader as the wizard, the engine and the kit tool call it: a thin
// front over config::KitFileReader (kit_file_reader.h), which does the
// work, answering with the Windows-style codes its callers compare (each
// the `code` of the reader's Status). `open` unpacks the whole kit; an
// entry is then written out of it by position (`writeEntry`, and `copy`
// built on it). `openTable` reads a kit that checks its header and table
// on their own only as far as its file table, and `complete` inflates the
// rest once an entry is to be written, so that a run with nothing to write
// never inflates the data area. `file()` gives the reader itself (its
// stage, observeRest) and `lastStatus()` the errno and path behind a code.
//
// Threads: one thread at a time uses an InstallData. The dialog opens it on
// the GUI thread before the worker exists; during an installation only the
// worker writes entries, and nobody else touches the object until it is
// done. What survives a crash: nothing (kit_file_reader.h).
#ifndef QXR8_INSTALL_INSTALL_DATA_H_
#define QXR8_INSTALL_INSTALL_DATA_H_

#include <cstdint>
#include <utility>
#include <vector>

#include "install/kit_file_reader.h"
#include "install/lz_compressor.h"
#include "platform/file_system.h"
#include "platform/status.h"
#include "platform/wstring.h"

namespace config {

// Compressor: kept so that the type stays what its callers name; the
// reader inflates through KitInflation, which LZCompressor's readings are
// too. FS: the static operations of FileSystem, with which `copy` makes
// its destination.
template <class Compressor, class FS>
class InstallData {
 private:
  // First: the public references below are bound to its table.
  KitFileReader m_file;

 public:
  // What `open` read, for its callers to read (never to change): the
  // product records in kit order, and the entries in kit order, an entry's
  // index being its identity for `copy` and `writeEntry`. The reader's own
  // vectors (KitFileReader::productInfo, entries).
  std::vector<KitProductInfo>& productInfo;
  std::vector<KitEntry>& entries;

  InstallData() : productInfo(m_file.productInfo()), entries(m_file.entries()) {}
  InstallData(const InstallData&) = delete;
  InstallData& operator=(const InstallData&) = delete;

  // The reader behind this front, for its stage, its Status-returning
  // operations and observeRest.
  KitFileReader& file() { return m_file; }
  const KitFileReader& file() const { return m_file; }

  // The Status of the latest open, openTable, complete, finishCompletion,
  // writeEntry or copy (ok when it succeeded): the errno and the path
  // behind the code it answered. The reads, which may run side by side,
  // leave it alone.
  const Status& lastStatus() const { return m_lastStatus; }

  // KitFileReader::setSourceObserver: set before open or openTable.
  void setSourceObserver(KitSourceObserver observer) {
    m_file.setSourceObserver(std::move(observer));
  }

  // KitFileReader::open, its Status's code: 0; 2 for a missing kit; 1013
  // when no temporary file can be made; 112 when it would fill the
  // temporary directory's file system; 13 for a stream that is not raw
  // deflate and for every kind of damage; else the failed call's code.
  // After a failure `entries` is empty and the reader is closed;
  // `productInfo` keeps what was appended before the failure. In no case
  // does a temporary file remain on disk after `open` returns.
  unsigned open(const wstring& kitPath) { return answer(m_file.open(kitPath)); }

  // KitFileReader::openTable, with open's codes. For the kit tool's
  // install, which may have nothing to write.
  unsigned openTable(const wstring& kitPath) { return answer(m_file.openTable(kitPath)); }

  // KitFileReader::complete: 0 (at once for a reader that is complete
  // already); 87 for a reader that is not open; else the failure's code
  // (13 for damage, 112 when the temporary directory's file system is
  // full), after which the reader is closed and `entries` is empty.
  unsigned complete() { return answer(m_file.complete()); }

  // KitFileReader::completeInBackground, finishCompletion (its code),
  // abandonCompletion and completionFailed. The caller's thread for all.
  void completeInBackground() { m_file.completeInBackground(); }
  unsigned finishCompletion() { return answer(m_file.finishCompletion()); }
  void abandonCompletion() { m_file.abandonCompletion(); }
  bool completionFailed() { return m_file.completionFailed(); }

  // Whether a successful `open` or `openTable` holds the unpacked kit.
  bool isOpen() const { return m_file.stage() != KitStage::kClosed; }
  // The path the open kit was read from; empty when the reader is closed.
  const wstring& kitPath() const { return m_file.kitPath(); }
  // Whether it holds all of it (or is completing it): entries can be
  // written.
  bool isComplete() const {
    return m_file.stage() == KitStage::kWhole || m_file.stage() == KitStage::kCompleting;
  }

  // KitFileReader::writeEntry to the open descriptor `out`: 0; 87 for an
  // index out of range or a reader that is not complete; 13 when the
  // unpacked kit ends before the entry's last byte; else the failed
  // write's code, with its errno in `systemError` (0 otherwise).
  unsigned writeEntry(unsigned long index, int out, int& systemError) {
    const unsigned code = answer(m_file.writeEntry(index, out));
    systemError = m_lastStatus.systemError;
    return code;
  }

  // Writes entry `index` to `destination` (created if missing, cut to the
  // entry's size if longer) and gives it the entry's time. Returns 0, the
  // failing FileSystem step's code, 87 for an index out of range or a
  // reader that is not complete, or 13 when the unpacked kit ends before
  // the entry's last byte. The destination is closed in every case.
  unsigned copy(unsigned long index, const wstring& destination);

  // KitFileReader::readEntry and readUnpacked, their codes.
  unsigned readEntry(unsigned long index, uint64_t from, void* data, size_t size,
                     size_t& got) const {
    return m_file.readEntry(index, from, data, size, got).code;
  }
  unsigned readUnpacked(uint64_t position, void* data, size_t size, size_t& got) const {
    return m_file.readUnpacked(position, data, size, got).code;
  }

 private:
  // Keeps `status` as lastStatus and answers its code.
  unsigned answer(const Status& status) {
    m_lastStatus = status;
    return status.code;
  }

  // A failed FS call's code with the errno behind it, so that the reason
  // reads as the system's (a refused folder is not "not found").
  static Status system_failure(unsigned code, const wstring& path) {
    Status status = error_status(code, path);
    status.systemError = FS::GetLastSystemError();
    return status;
  }

  Status m_lastStatus;
};

template <class Compressor, class FS>
unsigned InstallData<Compressor, FS>::copy(unsigned long index, const wstring& destination) {
  if (index >= entries.size() || !isComplete()) {
    return answer(error_status(kErrorInvalidParameter, destination));
  }
  void* out = kInvalidHandleValue;
  unsigned code = FS::CreateFile(destination, kGenericWrite, 0, kCreateAlways, out);
  if (code != kErrorSuccess) return answer(system_failure(code, destination));
  if (out == kInvalidHandleValue) return answer(error_status(kErrorInvalidHandle, destination));
  Status status = m_file.writeEntry(index, descriptor_of_handle(out));
  // The reader names the kit when the kit is at fault; a failed copy
  // without a path was the destination's.
  if (!status.ok() && status.path.empty()) status.path = destination;
  // CREATE_ALWAYS keeps an existing file's length: cut a longer old content.
  if (status.ok()) code = FS::SetEndOfFile(out);
  if (status.ok() && code == kErrorSuccess) {
    code = FS::SetFileTime(out, nullptr, nullptr, &entries[index].lastWriteTime);
  }
  const unsigned closeCode = FS::CloseHandle(out);
  if (status.ok() && code == kErrorSuccess) code = closeCode;
  if (status.ok() && code != kErrorSuccess) status = system_failure(code, destination);
  return answer(status);
}

}  // namespace config

// The reader as the wizard, the engine and the kit tool use it.
using KitReader = config::InstallData<LZCompressor, FileSystem>;

#endif  // QXR8_INSTALL_INSTALL_DATA_H_
