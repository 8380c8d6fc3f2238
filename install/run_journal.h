// The on-disk journal of one installation run, in the run's state folder
// (run_state.h). It says what the run is about to leave in the catalog that
// a backup cannot show: the files it adds where nothing stood, the
// directories it made, the folders a removal empties, and finally that the
// run committed. Backups need no
// record: the backup tree itself shows them.
//
// Record format: a kind byte, the length of the path in bytes in decimal,
// ":", the path's bytes (relative to the catalog), "\n"; the first record
// is the format's version. A record cut short by a crash is ignored when
// read. Paths may hold any byte, so the length, not the newline, delimits
// them.
//
// One thread uses a RunJournal at a time. Records are written out by
// sync(), all at once. What survives a crash, a power cut included: the
// records before the last sync() that returned success. The run syncs
// before each action a record protects, so one sync covers a group of
// actions.
#ifndef QXR8_INSTALL_RUN_JOURNAL_H_
#define QXR8_INSTALL_RUN_JOURNAL_H_

#include <string>
#include <vector>

#include "install/journal_format.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/status.h"
#include "platform/wstring.h"

struct JournalContents {
  bool readable = false;  // the version record was there
  std::vector<wstring> createdDirs;
  std::vector<wstring> addedFiles;
  std::vector<wstring> foldersToRemove;
  bool committed = false;
};

class RunJournal {
 public:
  // Creates the journal in `stateFolder`: exclusive creation, mode 0600,
  // never through a link; takes its lock and writes the version record
  // (not yet synced).
  Status create(const Directory& stateFolder);

  // Appends one record of `relative` (a path below the catalog) to those
  // the next sync writes; without an open journal, success.
  Status append(JournalKind kind, const wstring& relative);

  // Writes every record appended so far and puts them on disk.
  Status sync();

  // Closes the journal (and its lock); the file stays, without the records
  // not yet synced.
  void close() {
    m_file = File();
    m_pending.clear();
  }

  bool isOpen() const { return m_file.isOpen(); }

  // Parses the journal open as `file`; contents.readable is false for an
  // empty, foreign or unreadable one.
  static void read(const File& file, JournalContents& contents);

 private:
  File m_file;
  std::string m_pending;  // records appended since the last sync
};

#endif  // QXR8_INSTALL_RUN_JOURNAL_H_
