// The rollback journal of one installation run. Before the installer
// replaces a file of the templates catalog it moves the old copy into a
// private backup tree in the temporary directory; every directory and every
// file the run creates is recorded. `rollback` puts the old copies back and
// removes what the run created; `stop` ends a successful run by throwing the
// backup tree away.
//
// Used by the install worker thread only; no locks. Nothing here throws
// except std::bad_alloc.
#ifndef QXR8_INSTALL_ROLLBACK_H_
#define QXR8_INSTALL_ROLLBACK_H_

#include <vector>

#include "install/run_journal.h"
#include "platform/status.h"
#include "platform/wstring.h"

struct RollbackRecord {
  // The templates catalog of the run, as given to start (ends with "/").
  wstring targetDir;
  // The backup tree: the temporary directory, "r8stp", a number and "/";
  // empty until start has created it.
  wstring backupDir;
  // Directories this run created, in the order they were created.
  std::vector<wstring> createdDirs;
  // Files this run added where nothing stood before; deleted on rollback.
  std::vector<wstring> addedFiles;
  // Hidden temporaries the run was about to write; deleted on rollback.
  std::vector<wstring> temporaries;
};

class Rollback {
 public:
  // Appends a record for a run into `targetDir` and creates its backup tree
  // "<temp>r8stp<N>/" with an exclusive mkdir of mode 0700, taking the first
  // number whose name is free at the moment of creation (a name that exists,
  // or appears meanwhile, moves on to the next). The tree is journaled in
  // createdDirs, and gets the run's on-disk journal (run_journal.h), locked
  // until stop, rollback or the end of this object. An empty `targetDir`
  // creates no tree. Returns 0 or the first failing code.
  unsigned start(const wstring& targetDir);
  // The same, with the errno and path of what failed.
  Status startRun(const wstring& targetDir);

  // Moves the file at `path` (which begins with targetDir) to the same
  // relative place in the backup tree, creating the backup's directories.
  // Returns 0 when the file was moved, and also when there is nothing to
  // keep because the run itself wrote what stands there (the first backup
  // of a path is the one that is kept, and a file in addedFiles needs none);
  // 2 when nothing stands at `path` (the backup's directories are made all
  // the same); 183 when something stands there
  // that is neither a regular file nor a link to one (it is never moved);
  // 87 when an existing file could not be moved (what a failed move left at
  // the backup path is removed, so no rollback restores a partial copy) or
  // its backup directory could not be made (never 2 or 3 while a file
  // stands at `path`); or, when
  // nothing stands there, the code of a failed backup directory creation.
  unsigned storeRBFile(const wstring& path);
  // The same, with the errno and path of a failed move or directory.
  Status storeBackup(const wstring& path);

  // Makes sure directory `path` exists; journals it in createdDirs when this
  // call created it (never when it was there before). Parents made on the
  // way are not journaled. Returns 0; 3 when a slash-separated path cannot
  // be made (for example below a regular file); for a backslash-separated
  // path, the code of the level that failed.
  unsigned makeDirectoryTree(const wstring& path);

  // The same for directories of the backup tree: nothing is journaled.
  unsigned makeBackupDirectoryTree(const wstring& path);

  // Undoes the last record, best effort (every step is tried whatever the
  // others did): deletes every added file and temporary first (freeing
  // space for what comes back), moves every backed-up file back, removes
  // every created directory with its contents, and removes the backup tree
  // with its journal, unless a file could not be moved back: the tree
  // then holds the only copy and stays, with its journal, so that the next
  // run into the catalog tries again (see restoreFailed). Symbolic links are
  // moved or removed as themselves; nothing they point to is touched.
  // Returns `code` unchanged.
  unsigned rollback(unsigned code);

  // After rollback: whether a backup could not be moved back, and the tree
  // that then keeps the user's files.
  bool restoreFailed() const { return m_restoreFailed; }
  wstring keptBackupDir() const { return m_restoreFailed ? journal.back().backupDir : wstring(); }

  // Takes over `record`, the journal of a run that died, so that rollback
  // undoes it. The dead run's on-disk journal is removed with its tree.
  void adopt(const RollbackRecord& record);

  // Removes the last record's backup tree, its journal last (for a dead
  // run that had already committed).
  void removeBackupTree();

  // Ends a successful run: marks the journal committed, then removes the
  // last record's backup tree, the journal last, so that a run killed
  // meanwhile is never rolled back, only tidied. The created directories
  // stay. Returns 0.
  unsigned stop();

  // Moves every file (and link) of the backup tree `backupDir` back to the
  // same relative place below `targetDir`, replacing what stands there.
  // Both end with "/". Real directories are descended; links never.
  void rollbackFiles(const wstring& targetDir, const wstring& backupDir);

  // Deletes `path` with everything below it; a link (or a file) at `path` is
  // removed as itself. An empty path does nothing. Returns 0.
  unsigned removeDirectoryTree(const wstring& path);

  // Journal edits of the last record: addRBCatalog appends to createdDirs,
  // addRBFile to addedFiles; removeRBFile removes the first element of
  // addedFiles equal to `path`. Each does nothing when there is no record.
  void addRBCatalog(const wstring& path);
  void addRBFile(const wstring& path);
  void removeRBFile(const wstring& path);

  // The same edits, written ahead to the on-disk journal as well: success,
  // or the Status of the failed journal write (the journal in memory has
  // the entry all the same, and the action must not be taken).
  // recordTemporary journals a hidden temporary about to be created.
  Status recordCreatedDir(const wstring& path);
  Status recordAddedFile(const wstring& path);
  Status recordTemporary(const wstring& path);

  // The journal, oldest record first (for inspection).
  const std::vector<RollbackRecord>& records() const { return journal; }

 private:
  unsigned makeTree(const wstring& path, bool journalCreated);
  // Everything of the tree `backupDir` but the journal, then the journal,
  // then the tree itself.
  void removeTreeJournalLast(const wstring& backupDir);
  // rollbackFiles, answering whether every file could be moved back.
  bool restoreFiles(const wstring& targetDir, const wstring& backupDir);
  bool isAddedFile(const wstring& path) const;

  std::vector<RollbackRecord> journal;
  RunJournal runJournal;
  bool m_restoreFailed = false;
};

#endif  // QXR8_INSTALL_ROLLBACK_H_
