// Reads a run's journal (journal_format.h) of format version 2 or 3 with
// memory bounded whatever its size: a fixed buffer and the one record it
// gives, nothing that grows with the number of records. scan() checks the
// whole journal once and says where its valid records end; next() then
// gives them oldest first and, for version 3, previous() newest first,
// which is the order a rollback undoes them in.
//
// The journal is untrusted (it lives in a catalog other users may write
// to): any defect but a last record cut short is reported as 13 with a
// note naming the record, its byte offset and the reason. A last record
// cut short is what a crash during an append leaves (on some file systems
// as zero bytes to the end of the file); the records before it are the
// journal.
//
// One thread uses a JournalReader at a time. It does not own the File,
// which must stay open while it is used; it reads by position (readAt), so
// the file's offset is neither used nor moved.
#ifndef QXR8_INSTALL_JOURNAL_READER_H_
#define QXR8_INSTALL_JOURNAL_READER_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "install/journal_format.h"
#include "platform/file.h"
#include "platform/status.h"

struct JournalScan {
  enum class Format { kNone, kVersion2, kVersion3 } format = Format::kNone;
  bool committed = false;  // an S record is among the valid records
  uint64_t records = 0;    // valid records, the version record included
  uint64_t validEnd = 0;   // the byte offset where the valid records end
  bool cutShort = false;   // bytes after validEnd: a record a crash cut short
};

class JournalReader {
 public:
  // Reads `file`, which the reader does not own and which must outlive it.
  explicit JournalReader(const File& file);
  JournalReader(const JournalReader&) = delete;
  JournalReader& operator=(const JournalReader&) = delete;

  // Reads the whole journal once from its start and fills `out`. Format
  // kNone for an empty file or one holding only a first record cut short.
  // Fails with 13 (path = the file's, note = record number, byte offset,
  // reason) for a defect, or with the errno's Status for a read error;
  // `out` then describes the records before the failure, and next() and
  // previous() give nothing. Success leaves the reader at the first record
  // after the version record.
  Status scan(JournalScan& out);

  // The next record after the version record, oldest first, up to the
  // scan's validEnd; false at the end or on a failure (then error() says
  // which: a read error, or 13 when the file changed since the scan).
  // `out` keeps its name's storage from one call to the next.
  bool next(JournalRecord& out);

  // Version 3 only: the record before the last one previous() gave,
  // starting from the scan's validEnd, newest first, never the version
  // record; false at the end, for a version 2 journal, or on a failure
  // (see next()).
  bool previous(JournalRecord& out);

  // next() starts again at the first record, previous() at the last.
  void rewind();
  void toEnd();

  // Success, or why scan(), next() or previous() failed; a failure stays
  // until the next scan(), and next() and previous() give nothing then.
  Status error() const { return m_error; }

 private:
  // Makes the buffer hold the bytes from `offset` up to kJournalRecordMax
  // of them or the end (the file's, or `limit`), reading only when they
  // are not there yet; false with m_error set on a read error.
  bool holdFrom(uint64_t offset, uint64_t limit);
  // Loads the buffer with the bytes from `start` (up to `limit`).
  bool load(uint64_t start, uint64_t limit);
  // The record `number` at `offset`, which the scan found whole and valid
  // before `limit`; false with m_error set when it is no longer so.
  bool recordAt(uint64_t number, uint64_t offset, uint64_t limit, JournalRecord& out,
                uint64_t& end);
  // Whether the file from `offset` is what a crash leaves of an append on
  // some file systems: written bytes of at most one record, then zero bytes
  // to its end; false with m_error set on a read error.
  bool tornToEnd(uint64_t offset);
  // 13 naming the record and the reason.
  Status defect(uint64_t number, uint64_t offset, const char* reason) const;

  const File& m_file;
  std::unique_ptr<char[]> m_buffer;
  uint64_t m_bufferStart = 0;  // the file offset of m_buffer[0]
  size_t m_bufferSize = 0;     // bytes held
  bool m_bufferAtEof = false;  // the file ended before the buffer was full
  int m_version = 0;           // 2 or 3 after a successful scan, else 0
  uint64_t m_firstRecord = 0;  // just after the version record
  uint64_t m_validEnd = 0;
  uint64_t m_records = 0;
  uint64_t m_forward = 0;  // where the record next() gives starts
  uint64_t m_forwardNumber = 0;
  uint64_t m_backward = 0;  // where the record previous() gives ends
  uint64_t m_backwardNumber = 0;
  Status m_error;
};

#endif  // QXR8_INSTALL_JOURNAL_READER_H_
