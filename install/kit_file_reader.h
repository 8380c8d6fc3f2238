// The kit reader itself. It inflates a kit file (one raw deflate stream and
// its trailer, kit_trailer.h) into an anonymous temporary file, reads the
// product records and the file table from it, and writes entries out of it
// by position. A kit whose trailer checks its header and table on their own
// can be read table first: only as far as the end of its file table, the
// rest inflated later, in the foreground or on a thread of its own, once an
// entry is to be written, so that a run with nothing to write never
// inflates the data area.
//
// Every failure is a Status built from the failed call's errno, naming the
// kit (or the temporary file) and, for damage (code 13), what is wrong.
//
// Every byte of the kit file can pass one observer (setSourceObserver):
// from offset 0 to the end, trailer included, each once and in order, taken
// from the mapping the inflater reads, so that the bytes observed are the
// bytes used. KitStage says where a reader is, and every operation below
// says which stages it accepts.
//
// Threads: one thread at a time uses a reader; only the observer runs on
// the inflation thread during a background completion. What survives a
// crash: nothing. The unpacked kit has no name on disk once `open` or
// `openTable` has created it (before a byte is written to it), so no exit,
// not even a kill during the inflation, leaves a copy behind.
#ifndef QXR8_INSTALL_KIT_FILE_READER_H_
#define QXR8_INSTALL_KIT_FILE_READER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "install/entry_hashes.h"
#include "install/inflation_thread.h"
#include "install/kit_inflation.h"
#include "install/kit_origin.h"
#include "install/kit_table.h"
#include "platform/file.h"
#include "platform/status.h"
#include "platform/wstring.h"

namespace config {

// The life of a reader. open and openTable lead from kClosed (or any other
// stage: they close first) to kWhole or kTableRead; complete leads from
// kTableRead to kWhole, completeInBackground to kCompleting and
// finishCompletion on to kWhole; every failure, close and
// abandonCompletion lead back to kClosed.
enum class KitStage {
  kClosed,      // holds nothing; entries() is empty
  kTableRead,   // the header and table are read and checked; the data area is not unpacked
  kCompleting,  // the data area is being unpacked on the inflation thread; entries are
                // written as their bytes arrive
  kWhole,       // the whole kit is unpacked and checked
};

class KitFileReader {
 public:
  KitFileReader();
  // Stops a background completion and closes.
  ~KitFileReader();
  KitFileReader(const KitFileReader&) = delete;
  KitFileReader& operator=(const KitFileReader&) = delete;

  // The observer the next open or openTable hands the kit file's bytes to
  // (null for none); one already reading keeps the one it was given. It
  // sees offset 0 to the end of the file exactly once each, in order:
  // - open: all of them by the time it succeeds;
  // - openTable: those the table read took (for a kit read whole, all);
  //   the rest during complete, or on the inflation thread during a
  //   background completion (never after finishCompletion or
  //   abandonCompletion has returned), or during observeRest;
  // - after a failure: a prefix, possibly all of them.
  // Any stage; the caller's thread.
  void setSourceObserver(KitSourceObserver observer);

  // The check of the kit's signature (kit_origin.h, already begun) that
  // the next open or openTable feeds with the kit file's bytes, beside the
  // observer; null for none. Not owned: it must outlive the reader's use.
  // With one, the reader never reaches kWhole from bytes the signature
  // does not cover: open, complete and finishCompletion end in the check's
  // verdict once the last byte has passed (a refusal closes the reader and
  // is their Status, 13 naming the kit), so an entry written from the kit
  // comes from a kit proved whole before the run that wrote it commits.
  // Any stage; the caller's thread.
  void setOriginCheck(KitOriginCheck* check);
  // The check set last, or null.
  const KitOriginCheck* originCheck() const { return m_origin; }

  // The counter writeEntry raises by the bytes it copies, a slice of at
  // most kProgressSlice at a time, for a display of progress on another
  // thread; null for none. Not owned. The caller's thread, while no entry
  // is being written.
  void setWriteCounter(std::atomic<uint64_t>* counter);

  // For a run that writes nothing: the kit file proved to be the one the
  // signature covers, without inflating what is not inflated yet. kTableRead:
  // observeRest, then the verdict; kCompleting: finishCompletion; kWhole:
  // the verdict found when it became whole. Ok at once with no check, or
  // one that expects no hash (an unsigned kit). A refusal closes the
  // reader. kClosed: 87.
  Status proveOrigin();

  // Inflates the kit at `kitPath` whole and reads its header and table.
  // Any stage (closes first). Ok: kWhole, `productInfo` has the kit's
  // records appended, `entries` holds the file table with absolute
  // offsets. Otherwise the Status of the failed step: the kit's open (code
  // 2, ENOENT and the kit's path for a missing kit; 87 for anything but a
  // regular file); 1013 (123 for a name the system cannot take), with the
  // errno, when no temporary file can be made in TMPDIR; 112 when the
  // unpacked kit would fill the temporary directory's file system; 13 with
  // the kit's path and a note for damage: a stream that is not raw
  // deflate, a trailer that does not match the unpacked bytes or the end
  // of the stream, bytes after the stream that are no trailer, a header or
  // table that runs past the data or its records, an entry whose bytes
  // reach past the data area, an entry name that would leave the catalog,
  // a version 2 trailer whose table end is not where the table ended.
  // After a failure: kClosed, `entries` empty, `productInfo` keeps what was
  // appended. In no case does a temporary file remain on disk.
  Status open(const wstring& kitPath);

  // As open, but a kit whose trailer checks its header and table (version
  // 2) is inflated only to the end of its table, which must have the
  // trailer's table CRC-32; entries are checked against the data area's
  // size that the trailer gives. Ok: kTableRead for such a kit, kWhole for
  // any other (read whole, as by open). The same failures as open.
  Status openTable(const wstring& kitPath);

  // Inflates the rest of a kit read table first and checks the kit whole
  // as open does. kTableRead: ok leads to kWhole; a failure (13 for
  // damage, 112 for a full temporary file system, a write's Status) to
  // kClosed with `entries` empty. kWhole: ok at once. kCompleting: as
  // finishCompletion. kClosed, or kTableRead after observeRest: 87, nothing
  // changed.
  Status complete();

  // The same, on the inflation thread: returns at once, in kCompleting,
  // and entries become writable as their bytes arrive (writeEntry waits for
  // an entry's last byte). Only from kTableRead (not after observeRest);
  // nothing happens in any other stage.
  void completeInBackground();

  // kCompleting: waits for the whole kit and gives its Status; ok leads to
  // kWhole, a failure to kClosed as complete's does. Any other stage: as
  // complete. The observer is never called once it has returned.
  Status finishCompletion();

  // kCompleting: stops the inflation, waits for its thread, and closes (a
  // run that will write nothing more). Nothing in any other stage.
  void abandonCompletion();

  // Whether a background completion has ended in a failure (which
  // finishCompletion then gives); false outside kCompleting.
  bool completionFailed();

  // kTableRead: hands the observer the rest of the kit file, from the first
  // byte the table read did not take to the end, without inflating it (the
  // file is mapped already: nothing is read twice), for a run that will
  // write nothing and must still have seen the whole file. The reader stays
  // kTableRead and can still be read up to its table's end, but can no
  // longer be completed (87): the bytes inflated then would not be the
  // bytes observed. A second call does nothing. kWhole: ok, nothing to do
  // (the observer has seen the whole file). kClosed, kCompleting: 87.
  Status observeRest();

  // Back to kClosed: stops a background completion, closes the unpacked
  // kit and the kit file, empties `entries` (`productInfo` stays). Any
  // stage.
  void close();

  KitStage stage() const { return m_stage; }
  // The path the open kit was read from; empty in kClosed.
  const wstring& kitPath() const { return m_kitPath; }

  // What open read, in kit order; an entry's index is its identity for
  // writeEntry and readEntry. Callers read them; only a test changes them.
  std::vector<KitProductInfo>& productInfo() { return m_productInfo; }
  const std::vector<KitProductInfo>& productInfo() const { return m_productInfo; }
  std::vector<KitEntry>& entries() { return m_entries; }
  const std::vector<KitEntry>& entries() const { return m_entries; }

  // Writes the bytes of entry `index` to the open descriptor `out` from its
  // current position (the descriptor stays the caller's). kWhole, or
  // kCompleting (it waits for the entry's last byte, and answers the
  // completion's failure if that comes first). Ok; 87 for an index out of
  // range or another stage; 13 naming the kit when the unpacked kit ends
  // before the entry's last byte; else the failed copy's Status (its errno;
  // no path: either side may have failed). Uses the reader's own buffer:
  // one caller at a time.
  Status writeEntry(size_t index, int out);

  // Reads up to `size` bytes of entry `index`, from byte `from` of the
  // entry, into `data`; `got` tells how many (fewer only at the entry's
  // end, none from its end on). kWhole or kCompleting (without waiting).
  // Ok; 87 for an index out of range or another stage; or the read's
  // Status. Uses no shared buffer, so it may run beside other reads.
  Status readEntry(size_t index, uint64_t from, void* data, size_t size, size_t& got) const;

  // Reads up to `size` bytes of the unpacked kit from `position` into
  // `data`; `got` tells how many (fewer only at its end, which is the end
  // of the file table in kTableRead). Any stage but kClosed (87); or the
  // read's Status.
  Status readUnpacked(uint64_t position, void* data, size_t size, size_t& got) const;

  // The BLAKE2b-256 of entry `index`'s bytes, taken as the data area was
  // inflated (or read back from the unpacked kit). kWhole only (87
  // otherwise, or for an index out of range); or the read's Status.
  Status entryHash(size_t index, FileHash& out);

  // The BLAKE2b-512 of the whole kit file, once the reader has seen all of
  // it (kWhole, or after observeRest); false before.
  bool fileHash(KitHash& out);

 private:
  static constexpr size_t kCopyBufferSize = 0x100000;
  static constexpr uint64_t kProgressSlice = 8u << 20;

  // The steps of open (and of openTable when `tableFirst`); the caller
  // closes after a failure.
  Status openSteps(const wstring& kitPath, bool tableFirst);
  // The anonymous file the kit is unpacked into, as m_unpacked.
  Status createUnpackedFile();
  // Whether entries can be written: kWhole or kCompleting.
  bool holdsEntries() const {
    return m_stage == KitStage::kWhole || m_stage == KitStage::kCompleting;
  }
  // `status`, after closing the reader when it is a failure.
  Status closedOnFailure(const Status& status);
  // Once the last byte of the kit file has been observed: the origin
  // check's verdict (ok without a check).
  Status originVerdict();
  // Every byte of the kit file has passed the observers: its hash is final.
  void sawWholeFile();
  // The output the rest of the kit is inflated to.
  InflationOutput& restOutput();

  KitStage m_stage = KitStage::kClosed;
  KitSourceObserver m_observer;
  KitOriginCheck* m_origin = nullptr;
  std::atomic<uint64_t>* m_written = nullptr;
  std::vector<KitProductInfo> m_productInfo;
  std::vector<KitEntry> m_entries;
  wstring m_kitPath;
  // The unpacked kit, without a name; open from open to close.
  File m_unpacked;
  // The inflation of the data area still to come in kTableRead; null in
  // every other stage, and after observeRest.
  std::unique_ptr<KitInflation> m_rest;
  // The rest's inflation in kCompleting.
  InflationThread m_completion;
  // Where the rest is inflated to, hashing its entries on the way; made
  // when the rest is inflated (or on demand for a kit read whole).
  std::unique_ptr<FileOutput> m_restOutput;
  std::unique_ptr<EntryHashes> m_entryHashes;
  // The kit file's hash when no origin check takes it; its bytes are fed
  // on the thread that inflates.
  KitHasher m_fileHasher;
  bool m_ownFileHash = false;
  bool m_fileSeen = false;  // every byte of the kit file has been observed
  KitHash m_fileHash{};
  // The copy buffer of writeEntry, and the read-ahead of the table read.
  std::unique_ptr<uint8_t[]> m_buffer;
};

}  // namespace config

#endif  // QXR8_INSTALL_KIT_FILE_READER_H_
