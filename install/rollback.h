// The rollback journal of one installation run. Before the installer
// replaces a file of the templates catalog it moves the old copy into the
// run's backup tree, inside the run's state folder in the catalog itself
// (run_state.h); every directory and every file the run creates is
// recorded, in memory and, ahead of the action, in the on-disk journal.
// `rollback` puts the old copies back and removes what the run created;
// `stop` commits a successful run and throws the backups away.
//
// What survives a power cut: every journal record the run synced before
// the action it protects (syncJournal), and the backup tree; recovery
// (run_recovery.h) undoes a dead run from them. The state folder stays
// until the catalog is back as it was or the run has committed.
//
// Used by the install worker thread only; no locks. Nothing here throws
// except std::bad_alloc.
#ifndef QXR8_INSTALL_ROLLBACK_H_
#define QXR8_INSTALL_ROLLBACK_H_

#include <set>
#include <vector>

#include "install/run_journal.h"
#include "platform/directory.h"
#include "platform/status.h"
#include "platform/wstring.h"

struct RollbackRecord {
  // The templates catalog of the run, as given to start (ends with "/").
  wstring targetDir;
  // The backup tree: the catalog's state folder's "backup/"; empty until
  // start has created it.
  wstring backupDir;
  // Directories this run created, in the order they were created.
  std::vector<wstring> createdDirs;
  // Files this run added where nothing stood before; deleted on rollback.
  std::vector<wstring> addedFiles;
  // Hidden temporaries the run was about to write; deleted on rollback.
  std::vector<wstring> temporaries;
  // Folders a removal empties: removed, when empty, once it has committed
  // (deepest first).
  std::vector<wstring> foldersToRemove;
};

class Rollback {
 public:
  // Appends a record for a run into `targetDir` (an existing directory,
  // ending with "/") and makes the run's state folder there: mode 0700,
  // holding the journal (locked until the end of this object or a rollback)
  // and an empty backup tree, all on disk before start returns. A state
  // folder that stands already (a dead run that could not be undone) fails
  // with 183 and its path. An empty `targetDir` creates nothing. Returns 0
  // or the first failing code; startRun also gives the path and errno.
  unsigned start(const wstring& targetDir);
  Status startRun(const wstring& targetDir);

  // Moves the file at `path` (which begins with targetDir) to the same
  // relative place in the backup tree, creating the backup's directories.
  // Returns 0 when the file was moved, and also when there is nothing to
  // keep because the run itself wrote what stands there (the first backup
  // of a path is the one that is kept, and a file in addedFiles needs none);
  // 2 when nothing stands at `path` (the backup's directories are made all
  // the same); 183 when something stands there that is neither a regular
  // file nor a link to one (it is never moved); 87 when an existing file
  // could not be moved (what a failed move left at the backup path is
  // removed, so no rollback restores a partial copy) or its backup
  // directory could not be made (never 2 or 3 while a file stands at
  // `path`); or, when nothing stands there, the code of a failed backup
  // directory creation. storeBackup also gives the path and errno.
  unsigned storeRBFile(const wstring& path);
  Status storeBackup(const wstring& path);

  // Makes sure directory `path` exists; journals it in createdDirs when this
  // call created it (never when it was there before). Parents made on the
  // way are not journaled. Returns 0; 3 when a slash-separated path cannot
  // be made (for example below a regular file); for a backslash-separated
  // path, the code of the level that failed.
  unsigned makeDirectoryTree(const wstring& path);

  // The same for directories of the backup tree: nothing is journaled, and
  // a path that cannot be made gives 3.
  unsigned makeBackupDirectoryTree(const wstring& path);

  // Undoes the last record, best effort (every step is tried whatever the
  // others did): deletes every added file and temporary first (freeing
  // space for what comes back), moves every backed-up file back, makes the
  // folders it restored into durable, removes every created directory with
  // its contents, and removes the state folder, unless a file could not be
  // moved back: the folder then holds the only copy and stays, with its
  // journal, so that the next run into the catalog tries again (see
  // restoreFailed). Symbolic links are moved or removed as themselves;
  // nothing they point to is touched. Returns `code` unchanged.
  unsigned rollback(unsigned code);

  // After rollback: whether a backup could not be moved back, and the tree
  // that then keeps the user's files.
  bool restoreFailed() const { return m_restoreFailed; }
  wstring keptBackupDir() const { return m_restoreFailed ? journal.back().backupDir : wstring(); }

  // Takes over `record`, the journal of a run that died, so that rollback
  // undoes it or removeBackupTree tidies it.
  void adopt(const RollbackRecord& record);

  // Removes the last record's state folder, backups and journal (for a
  // dead run that had already committed, after the folders it was to
  // remove), and makes that durable.
  void removeBackupTree();

  // Ends a successful run: makes the folders noted with noteChangedFolder
  // durable, then the commit record, and only then removes the backups and
  // the state folder, so that a run killed meanwhile is never rolled back,
  // only tidied. The created directories stay. Returns 0, or the code of a
  // failed sync (nothing is removed then: the run did not commit).
  // Once committed, the folders noted with recordFolderToRemove are removed
  // where they are empty; `foldersRemoved` (may be null) gets how many.
  unsigned stop();
  Status commit(unsigned long* foldersRemoved = nullptr);

  // A catalog folder whose entries the run changed: synced before commit.
  void noteChangedFolder(const wstring& folder) { m_changedFolders.insert(folder); }

  // Puts the journal records appended so far on disk: the run calls it
  // before the actions they announce.
  Status syncJournal() { return runJournal.sync(); }

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

  // The same edits, written ahead to the on-disk journal as well (not yet
  // synced): success, or the Status of the failed journal write (the
  // journal in memory has the entry all the same, and the action must not
  // be taken). recordTemporary notes a hidden temporary about to be
  // created (in memory: a dead run's are found by recovery's sweep).
  Status recordCreatedDir(const wstring& path);
  Status recordAddedFile(const wstring& path);
  Status recordTemporary(const wstring& path);
  Status recordFolderToRemove(const wstring& path);
  // Forgets the temporaries recorded so far: each is in place under its
  // name now (a group placed), so a rollback has none of them to delete.
  void forgetTemporaries();

  // The journal, oldest record first (for inspection).
  const std::vector<RollbackRecord>& records() const { return journal; }

 private:
  unsigned makeTree(const wstring& path);
  // The state folder of the last record's catalog, its backups and journal.
  void removeState();
  // The last record's foldersToRemove that are empty; how many went.
  unsigned long removeEmptiedFolders();
  // rollbackFiles, answering whether every file could be moved back;
  // `restoredInto` gets the catalog folders that received files.
  bool restoreFiles(const wstring& targetDir, const wstring& backupDir,
                    std::set<wstring>& restoredInto);
  bool isAddedFile(const wstring& path) const;
  // `path` relative to the catalog of the last record.
  wstring relativeOf(const wstring& path) const;

  std::vector<RollbackRecord> journal;
  RunJournal runJournal;
  std::set<wstring> m_changedFolders;
  bool m_restoreFailed = false;
};

// Opens every folder of `folders` (full paths) and syncs it; the first
// failure, after all were tried.
Status sync_folders(const std::set<wstring>& folders);

#endif  // QXR8_INSTALL_ROLLBACK_H_
