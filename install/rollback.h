// The rollback journal of one run into a catalog. Before a run changes the
// catalog it records, in its journal (run_journal.h), what it is about to
// leave there and how it will know it again: each folder it makes, each
// file it places (where nothing stood, or over one it moves into its
// backup tree first), each file a removal moves into the backup tree, each
// with the identity of the folder it is in and of the file itself. The
// records are on disk before the changes they announce; the backups live
// in the run's state folder in the catalog (state_folder.h).
//
// `rollback` undoes the run by replaying its journal (journal_replay.h),
// newest record first, through the same code that recovers a dead run,
// acting only on what is still what the run left; `commit` ends a
// successful run, durably, then throws the backups away.
//
// What survives a power cut: every record synced before the change it
// protects (syncJournal), the backup tree (its folders synced before a
// placement or a commit relies on them), and the state folder itself until
// the catalog is back as it was or the run has committed.
//
// Used by one thread (the install worker or the tool's); no locks.
// Nothing here throws except std::bad_alloc.
#ifndef QXR8_INSTALL_ROLLBACK_H_
#define QXR8_INSTALL_ROLLBACK_H_

#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "install/install_data.h"
#include "install/journal_format.h"
#include "install/run_journal.h"
#include "install/state_folder.h"
#include "platform/directory.h"
#include "platform/status.h"
#include "platform/wstring.h"

class Rollback {
 public:
  Rollback();
  ~Rollback();
  Rollback(const Rollback&) = delete;
  Rollback& operator=(const Rollback&) = delete;

  // Starts the journal of a run into `catalog` (locked by the caller, and
  // kept open by it for the whole run): makes the run's state folder with
  // its journal (locked until the end of the run) and backup tree. They go
  // to the disk with the first syncJournal, before anything they protect:
  // a run cut off before that has changed nothing but the folders it made,
  // which are empty. A state folder that stands already (a dead run not
  // undone) fails with 183 and is left alone.
  Status startRun(const Directory& catalog);
  // The same for the catalog at the path `targetDir`, which the object
  // opens and keeps: 0 or the failing code.
  unsigned start(const wstring& targetDir);

  // The run made the catalog itself: `parent` is the path of the folder
  // it was made in and `name` its name there, so that a rollback removes it
  // when it is empty again and still that folder. Recorded like any folder
  // the run made. (A path, not a descriptor: a run keeps few open.)
  void noteMadeCatalog(const wstring& parent, const SystemName& name);

  // Where the run writes its files before they take their names: the
  // state folder's stage/, on the catalog's file system.
  const Directory& stage() const { return *m_stage; }

  // Journal records, appended (on disk at the next syncJournal). `folder`
  // is the folder that holds `name` (relative to the catalog, system
  // bytes) as the run reached it. recordCreatedDir looks the new folder
  // and its parent up itself.
  Status recordCreatedDir(const Directory& parent, const std::string& name);
  void recordAdded(const FolderIdentity& folder, const std::string& name,
                   const FileIdentity& placed);
  void recordReplaced(const FolderIdentity& folder, const std::string& name,
                      const FileIdentity& placed, const FileIdentity& original);
  void recordBackedUp(const FolderIdentity& folder, const std::string& name,
                      const FileIdentity& original);
  void recordFolderToRemove(const FolderIdentity& folder, const std::string& name,
                            const FolderIdentity& self);

  // Puts the records appended so far on disk, the first time with the
  // state folder's own entries: the run calls it before the changes they
  // announce.
  Status syncJournal();
  // The same, to be done by the caller together with other syncs: writes
  // the records out and adds to `descriptors` (and their paths to `paths`)
  // what must be synced for them to be on disk; the caller calls
  // journalSynced once those syncs have all succeeded. The descriptors
  // stay open until the next journal call.
  Status journalDescriptors(std::vector<int>& descriptors, std::vector<wstring>& paths);
  void journalSynced() { m_stateDurable = true; }

  // Moves `leaf` of `folder` (reached as `name` below the catalog) into the
  // backup tree, whose folders are made on first use, and checks it there,
  // where nobody else can change it: it must be `expected`. A record
  // naming it must be on disk first. Returns success; 2 when nothing
  // stands there any more; 183 (with a note) when it was not the file
  // expected, which is then back at its name; any other failure (the
  // Status names the file and the reason) means something of the catalog
  // may be in the backup tree and the run must roll back.
  Status moveToBackup(const Directory& folder, const std::string& name, const SystemName& leaf,
                      const FileIdentity& expected);

  // Makes durable the folders of the backup tree that received files since
  // the last call, and those made for them; the run calls it before it
  // relies on the backups (a placement over their old names, a commit).
  Status syncBackups();

  // Ends a successful run: the commit record on disk, then the folders
  // recorded with recordFolderToRemove removed where they are still empty
  // (`foldersRemoved`, may be null, gets how many), then the backups and
  // the state folder. A run cut off after the commit record is only tidied
  // by the next. The folders the run made stay. The caller has made its
  // placements durable first. On failure nothing is removed (the run did
  // not commit) and the caller must roll back.
  Status commit(unsigned long* foldersRemoved = nullptr);
  unsigned stop() { return commit().code; }

  // Undoes the run, best effort, by its journal (journal_replay.h): the
  // files it placed that are still its own removed, the backups put back
  // (beside a file saved there since, under a name the notes give), the
  // folders it made removed when empty, the state folder removed or, when
  // something of it could not go back, set aside under a dated name. The
  // catalog itself, when the run made it, goes last if it is empty.
  // Returns `code` unchanged.
  unsigned rollback(unsigned code);

  // After rollback: whether something could not be put back, and the
  // folder that then keeps it.
  bool restoreFailed() const { return m_restoreFailed; }
  wstring keptBackupDir() const { return m_restoreFailed ? m_aside : wstring(); }
  // What the rollback kept in the catalog, and why.
  const std::vector<wstring>& notes() const { return m_notes; }

  bool started() const { return m_state.isOpen(); }

 private:
  // The backup tree's folder for `relativeFolder`, made on first use.
  Status backupFolder(const std::string& relativeFolder, const Directory*& out);
  void append(JournalKind kind, const FolderIdentity& folder, const std::string& name,
              const FileIdentity& placed, const FileIdentity& original);

  Directory m_ownCatalog;  // when start() opened it
  const Directory* m_catalog = nullptr;
  StateFolder m_state;
  const Directory* m_stage = nullptr;
  RunJournal m_journal;
  // The backup tree's folders made so far, by relative path; those that
  // changed since the last syncBackups; the one kept open.
  std::set<std::string> m_backupMade;
  std::set<std::string> m_backupChanged;
  Directory m_lastBackup;
  std::string m_lastBackupName;
  bool m_hasFoldersToRemove = false;
  bool m_stateDurable = false;  // the state folder's entries are on disk
  wstring m_catalogParent;  // when the run made the catalog
  SystemName m_catalogName;
  bool m_restoreFailed = false;
  wstring m_aside;
  std::vector<wstring> m_notes;
};

#endif  // QXR8_INSTALL_ROLLBACK_H_
