// The on-disk journal of one run into a catalog, in the run's state folder
// (run_state.h): the records (journal_format.h) of what the run is about
// to leave in the catalog, each with the identities that let an undo know
// it again, and finally that the run committed.
//
// One thread uses a RunJournal at a time. Records are appended in memory
// and written out by sync(), all at once. What survives a crash, a power
// cut included: the records before the last sync() that returned success.
// The run syncs before each change a record protects, so one sync covers a
// group of changes. The journal is read back by JournalReader
// (journal_reader.h).
#ifndef QXR8_INSTALL_RUN_JOURNAL_H_
#define QXR8_INSTALL_RUN_JOURNAL_H_

#include <cstdint>
#include <string>

#include "install/journal_format.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/status.h"

class RunJournal {
 public:
  // Creates the journal in `stateFolder`: exclusive creation, mode 0600,
  // never through a link; takes its lock (held until close) and appends the
  // version record (not yet synced).
  Status create(const Directory& stateFolder);

  // Opens the journal a dead run left in `stateFolder` for a replay, locked
  // without waiting: 32 while a live run holds it, 2 when there is none, 13
  // when it is not a regular file (never read then).
  static Status openForReplay(const Directory& stateFolder, File& out);

  // Appends one record (its name must be safe: journal_name_is_safe) to
  // those the next sync writes; nothing without an open journal.
  void append(const JournalRecord& record);

  // Writes every record appended so far and puts them on disk.
  Status sync();
  // Writes them without waiting for the disk: a rollback reads back what
  // the run recorded, durable or not.
  Status writePending();

  // The journal file (closed when there is none), for reading it back.
  const File& file() const { return m_file; }

  // Closes the journal (and its lock); the file stays, without the records
  // not yet written.
  void close() {
    m_file = File();
    m_pending.clear();
    m_written = 0;
  }

  bool isOpen() const { return m_file.isOpen(); }

 private:
  File m_file;
  std::string m_pending;  // records appended since the last write
  uint64_t m_written = 0;  // bytes of whole records in the file
};

#endif  // QXR8_INSTALL_RUN_JOURNAL_H_
