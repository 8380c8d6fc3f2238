// The on-disk journal of one installation run. It lives in the run's backup
// tree and says, before each action is taken, what the run is about to
// leave in the catalog (files it adds, hidden temporaries it writes) and,
// once made, which directories it created. The run holds an exclusive flock
// on the journal for as long as it lives; a journal whose lock is free
// belongs to a run that died, and the next run into the same catalog rolls
// that run back from it (see run_recovery.h).
//
// Record format, appended one write(2) per record: a kind byte, the length
// of the path in bytes in decimal, ":", the path's bytes, "\n". A record cut
// short by a crash is ignored when read. Paths may hold any byte, so the
// length, not the newline, delimits them.
//
// One thread uses a RunJournal at a time. What survives a crash: every
// record whose write(2) returned (the page cache outlives the process; a
// power cut is not covered, there is no fsync per record).
#ifndef QXR8_INSTALL_RUN_JOURNAL_H_
#define QXR8_INSTALL_RUN_JOURNAL_H_

#include <string>
#include <vector>

#include "platform/directory.h"
#include "platform/file.h"
#include "platform/status.h"
#include "platform/wstring.h"

// The journal's name inside the backup tree. No kit name can produce it:
// a backslash in a kit name is a separator, so the mirrored catalog never
// holds a component with one.
inline constexpr char16_t kRunJournalName[] = u"\\journal";

enum class JournalKind : char {
  kCatalog = 'C',     // the catalog of the run (first record)
  kCreatedDir = 'D',  // a directory the run created, after it was made
  kAddedFile = 'A',   // a file about to be placed where nothing stood
  kTemporary = 'T',   // a hidden temporary about to be created
  kCommitted = 'S',   // the run succeeded: only the tree is left to remove
};

struct JournalContents {
  wstring catalog;
  std::vector<wstring> createdDirs;
  std::vector<wstring> addedFiles;
  std::vector<wstring> temporaries;
  bool committed = false;
};

class RunJournal {
 public:
  // Creates the journal in `backupDir` (open; its path ends with "/"):
  // exclusive creation, mode 0600, never through a link; takes its lock and
  // writes the catalog record. Fails with the Status of the failing call.
  Status create(const Directory& backupDir, const wstring& catalog);

  // Appends one record; a failed write's Status means the action it
  // announces must not be taken. Without an open journal, success.
  Status append(JournalKind kind, const wstring& path);

  // Removes the journal file while still holding its lock, then closes it,
  // so that no other run can take it for a dead run's journal.
  void discard();

  bool isOpen() const { return m_file.isOpen(); }

  // Parses the journal open as `file`. False when it has no catalog record.
  static bool read(const File& file, JournalContents& contents);

 private:
  File m_file;
  Directory m_directory;
};

#endif  // QXR8_INSTALL_RUN_JOURNAL_H_
