#include "install/rollback.h"

#include <cerrno>
#include <string>

#include "install/run_state.h"
#include "platform/batch_sync.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/path_status.h"
#include "platform/process_services.h"

namespace {

bool ends_with_separator(const wstring& path) {
  return !path.empty() &&
         (path.back() == kPathSeparatorChar || path.back() == kBadPathSeparatorChar);
}

wstring without_trailing_separators(wstring path) {
  while (path.size() > 1 && ends_with_separator(path)) path.pop_back();
  return path;
}

// The folder that holds `path` (a file or a folder, with or without a
// final "/").
wstring parent_of(const wstring& path) {
  const wstring trimmed = without_trailing_separators(path);
  const size_t slash = trimmed.rfind(kPathSeparatorChar);
  return slash == wstring::npos ? wstring() : trimmed.substr(0, slash + 1);
}

}  // namespace

Status sync_folders(const std::set<wstring>& folders) {
  // A chunk of folders at a time, synced together.
  constexpr size_t kChunk = 256;
  Status first;
  std::vector<Directory> opened;
  std::vector<int> descriptors;
  std::vector<int> errors;
  for (auto it = folders.begin(); it != folders.end();) {
    opened.clear();
    descriptors.clear();
    for (; it != folders.end() && opened.size() < kChunk; ++it) {
      Directory directory;
      const Status status = Directory::open(*it, directory);
      // A folder that is gone has nothing left to make durable.
      if (!status.ok() && status.code != kErrorFileNotFound && first.ok()) first = status;
      if (!status.ok()) continue;
      descriptors.push_back(directory.descriptor());
      opened.push_back(std::move(directory));
    }
    sync_descriptors(descriptors, errors);
    for (size_t i = 0; i < errors.size() && first.ok(); ++i) {
      if (errors[i] != 0) first = status_of_errno(errors[i], opened[i].path());
    }
  }
  return first;
}

unsigned Rollback::start(const wstring& targetDir) { return startRun(targetDir).code; }

Status Rollback::startRun(const wstring& targetDir) {
  journal.emplace_back();
  journal.back().targetDir = targetDir;
  m_changedFolders.clear();
  if (targetDir.empty()) return Status();

  Directory catalog;
  Status status = Directory::open(targetDir, catalog);
  if (!status.ok()) return status;
  status = catalog.makeDirectory(kRunStateFolderName, kRunStateMode);
  if (!status.ok()) return status;
  const wstring stateDir = catalog.pathOf(kRunStateFolderName) + kPathSeparator;
  Directory state;
  status = catalog.openDirectory(kRunStateFolderName, FollowLinks::kNo, state);
  if (status.ok()) status = runJournal.create(state);
  if (status.ok()) status = state.makeDirectory(kRunBackupFolderName, kRunStateMode);
  // The folder, the journal's name and the backup tree are on disk before
  // anything they protect happens.
  if (status.ok()) status = runJournal.sync();
  if (status.ok()) status = state.sync();
  if (status.ok()) status = catalog.sync();
  if (!status.ok()) {
    runJournal.close();
    catalog.removeTree(kRunStateFolderName);
    return status;
  }
  journal.back().backupDir = stateDir + kRunBackupFolderName + kPathSeparator;
  return Status();
}

bool Rollback::isAddedFile(const wstring& path) const {
  if (journal.empty()) return false;
  for (const wstring& added : journal.back().addedFiles) {
    if (added == path) return true;
  }
  return false;
}

unsigned Rollback::storeRBFile(const wstring& path) { return storeBackup(path).code; }

Status Rollback::storeBackup(const wstring& path) {
  if (journal.empty()) return error_status(kErrorInvalidParameter, path);
  const RollbackRecord& record = journal.back();
  // A backup path is only ever computed inside the backup tree.
  if (record.backupDir.empty() || path.size() <= record.targetDir.size() ||
      path.compare(0, record.targetDir.size(), record.targetDir) != 0) {
    return error_status(kErrorInvalidParameter, path);
  }

  const PathKind kind = path_kind(path, false);
  if (kind == PathKind::kUnknown) return error_status(kErrorInvalidParameter, path);
  const bool exists = kind != PathKind::kMissing;
  // A directory, FIFO, device or a link to one is the user's and is never
  // moved: the run cannot put a file there.
  if (exists && !is_replaceable_file(path)) return error_status(kErrorAlreadyExists, path);

  const wstring backupPath = record.backupDir + path.substr(record.targetDir.size());
  // What stands at the path is the run's own copy when the run added it or
  // has already backed up the original; the first backup is the one kept.
  if (exists && (isAddedFile(path) || path_kind(backupPath, false) != PathKind::kMissing)) {
    return Status();
  }

  const size_t slash = backupPath.rfind(kPathSeparatorChar);
  if (slash != wstring::npos) {
    const wstring backupFolder = backupPath.substr(0, slash);
    const unsigned rc = makeBackupDirectoryTree(backupFolder);
    const int err = errno;
    // The caller reads 2 and 3 as "nothing to back up" and then overwrites
    // the path: for a file that is there, a backup directory that cannot be
    // made must not say so, or the file would be replaced without a copy
    // and deleted by a rollback.
    if (rc != kErrorSuccess) {
      const bool readAsNothing = rc == kErrorFileNotFound || rc == kErrorPathNotFound;
      Status failed = error_status(exists && readAsNothing ? kErrorInvalidParameter : rc,
                                   backupFolder);
      failed.systemError = err;
      return failed;
    }
  }
  if (!exists) return error_status(kErrorFileNotFound, path);

  if (FileSystem::MoveFile(path, backupPath) == kErrorSuccess) return Status();
  // MoveFile leaves the failing call's errno.
  Status failed = error_status(kErrorInvalidParameter, path);
  failed.systemError = errno;
  // The caller reads 2 as "nothing to back up" and would then overwrite the
  // file without a copy to restore: a file that is still there was not
  // moved, and that is a failure of its own.
  if (path_kind(path, false) == PathKind::kMissing) return error_status(kErrorFileNotFound, path);
  // A move to another file system copies first: one that failed or was
  // killed halfway can leave part of a copy in the backup tree, where
  // nothing stood before, and the rollback would move that part back over
  // the intact original.
  if (path_kind(backupPath, false) != PathKind::kDirectory) FileSystem::DeleteFile(backupPath);
  return failed;
}

unsigned Rollback::makeDirectoryTree(const wstring& path) { return makeTree(path); }

unsigned Rollback::makeBackupDirectoryTree(const wstring& path) {
  // The backup tree's paths are always written with "/" (the state
  // folder's own name holds a backslash, which is no separator here).
  const unsigned rc = FileSystem::CreateDirectory(path);
  return rc == kErrorSuccess || rc == kErrorAlreadyExists ? kErrorSuccess : kErrorPathNotFound;
}

unsigned Rollback::makeTree(const wstring& path) {
  if (isDiskRoot(path)) return kErrorSuccess;
  unsigned rc = FileSystem::CreateDirectory(path);
  if (rc == kErrorSuccess) {
    addRBCatalog(path);
    return kErrorSuccess;
  }
  if (rc == kErrorAlreadyExists) return kErrorSuccess;

  // Paths written with backslashes are built one level at a time.
  const size_t backslash = path.rfind(kBadPathSeparatorChar);
  if (backslash == wstring::npos) return kErrorPathNotFound;
  if (backslash == 2 && path[1] == u':') return kErrorPathNotFound;
  rc = makeTree(path.substr(0, backslash));
  if (rc != kErrorSuccess) return rc;
  rc = FileSystem::CreateDirectory(path);
  if (rc != kErrorSuccess) return rc;
  addRBCatalog(path);
  return kErrorSuccess;
}

unsigned Rollback::rollback(unsigned code) {
  m_restoreFailed = false;
  if (journal.empty()) return code;
  const RollbackRecord record = journal.back();
  // The journal's work is done once the undo begins (the catalog stays
  // locked), and its descriptor may be the one the restore needs.
  runJournal.close();
  // What the run added goes first: on a full disk that frees the room the
  // restored files need.
  for (const wstring& file : record.temporaries) FileSystem::DeleteFile(file);
  for (const wstring& file : record.addedFiles) FileSystem::DeleteFile(file);
  bool restored = true;
  std::set<wstring> changed;
  if (!record.targetDir.empty() && !record.backupDir.empty()) {
    restored = restoreFiles(record.targetDir, record.backupDir, changed);
  }
  for (const wstring& dir : record.createdDirs) {
    if (dir == record.targetDir) continue;  // the catalog itself goes last
    removeDirectoryTree(dir);
    changed.insert(parent_of(dir));
  }
  // What came back must be on disk before the backups that held it go.
  sync_folders(changed);
  // A backup that could not be moved back is the only copy of the user's
  // file: the state folder then stays, journal and all.
  m_restoreFailed = !restored;
  if (!record.backupDir.empty() && restored) removeState();
  for (const wstring& dir : record.createdDirs) {
    if (dir == record.targetDir && restored) removeDirectoryTree(dir);
  }
  return code;
}

Status Rollback::commit(unsigned long* foldersRemoved) {
  if (journal.empty()) return Status();
  const RollbackRecord& record = journal.back();
  // The placed files' names, then the commit record: a run is committed
  // only once everything it did is on disk.
  Status status = sync_folders(m_changedFolders);
  if (status.ok()) status = runJournal.append(JournalKind::kCommitted, wstring());
  if (status.ok()) status = runJournal.sync();
  if (!status.ok()) return status;
  const unsigned long removed = removeEmptiedFolders();
  if (foldersRemoved != nullptr) *foldersRemoved = removed;
  if (!record.backupDir.empty()) removeState();
  return Status();
}

unsigned long Rollback::removeEmptiedFolders() {
  unsigned long removed = 0;
  std::set<wstring> parents;
  for (const wstring& folder : journal.back().foldersToRemove) {
    const wstring parent = parent_of(folder);
    const wstring name = without_trailing_separators(folder).substr(parent.size());
    Directory above;
    // Only an empty folder goes: rmdir refuses any other.
    if (Directory::open(parent, above).ok() && above.removeDirectory(name).ok()) {
      ++removed;
      parents.insert(parent);
    }
  }
  sync_folders(parents);
  return removed;
}

unsigned Rollback::stop() { return commit().code; }

void Rollback::removeBackupTree() {
  if (journal.empty()) return;
  removeEmptiedFolders();
  if (!journal.back().backupDir.empty()) removeState();
}

void Rollback::removeState() {
  runJournal.close();
  Directory catalog;
  if (!Directory::open(journal.back().targetDir, catalog).ok()) return;
  // The backups go before the journal that says whether they are needed,
  // and the folder last, so that a cut in between leaves a folder the next
  // run can still read.
  Directory state;
  if (catalog.openDirectory(kRunStateFolderName, FollowLinks::kNo, state).ok()) {
    state.removeTree(kRunBackupFolderName);
    state.sync();
    state.remove(kRunJournalName);
  }
  catalog.removeTree(kRunStateFolderName);
  catalog.sync();
}

void Rollback::adopt(const RollbackRecord& record) { journal.push_back(record); }

void Rollback::rollbackFiles(const wstring& targetDir, const wstring& backupDir) {
  std::set<wstring> ignored;
  restoreFiles(targetDir, backupDir, ignored);
}

bool Rollback::restoreFiles(const wstring& targetDir, const wstring& backupDir,
                            std::set<wstring>& restoredInto) {
  std::vector<DirectoryEntry> entries;
  if (!list_directory(backupDir, entries)) return false;
  bool allMoved = true;
  for (const DirectoryEntry& entry : entries) {
    if (entry.isDirectory) {
      allMoved &= restoreFiles(targetDir + entry.name + kPathSeparator,
                               backupDir + entry.name + kPathSeparator, restoredInto);
    } else if (FileSystem::MoveFile(backupDir + entry.name, targetDir + entry.name) !=
               kErrorSuccess) {
      allMoved = false;
    } else {
      restoredInto.insert(targetDir);
    }
  }
  return allMoved;
}

unsigned Rollback::removeDirectoryTree(const wstring& path) {
  if (path.empty()) return kErrorSuccess;
  // The journal never holds the root; refusing it keeps a damaged journal
  // from emptying the disk.
  if (isDiskRoot(path)) return kErrorSuccess;

  const PathKind kind = path_kind(path, false);
  if (kind == PathKind::kMissing) return kErrorSuccess;
  if (kind != PathKind::kDirectory) {
    // A link is removed as itself, never what it points to.
    return FileSystem::DeleteFile(without_trailing_separators(path));
  }

  const wstring dir = ends_with_separator(path) ? path : path + kPathSeparator;
  std::vector<DirectoryEntry> entries;
  list_directory(dir, entries);
  for (const DirectoryEntry& entry : entries) {
    if (entry.isDirectory) {
      removeDirectoryTree(dir + entry.name);
    } else {
      FileSystem::DeleteFile(dir + entry.name);
    }
  }
  return FileSystem::RemoveDirectory(dir);
}

wstring Rollback::relativeOf(const wstring& path) const {
  const wstring& catalog = journal.back().targetDir;
  if (path.size() < catalog.size() || path.compare(0, catalog.size(), catalog) != 0) return path;
  return without_trailing_separators(path.substr(catalog.size()));
}

void Rollback::addRBCatalog(const wstring& path) { recordCreatedDir(path); }

void Rollback::addRBFile(const wstring& path) { recordAddedFile(path); }

Status Rollback::recordCreatedDir(const wstring& path) {
  if (journal.empty()) return Status();
  journal.back().createdDirs.push_back(path);
  noteChangedFolder(parent_of(path));
  return runJournal.append(JournalKind::kCreatedDir, relativeOf(path));
}

Status Rollback::recordAddedFile(const wstring& path) {
  if (journal.empty()) return Status();
  journal.back().addedFiles.push_back(path);
  return runJournal.append(JournalKind::kAddedFile, relativeOf(path));
}

Status Rollback::recordFolderToRemove(const wstring& path) {
  if (journal.empty()) return Status();
  journal.back().foldersToRemove.push_back(path);
  return runJournal.append(JournalKind::kFolderToRemove, relativeOf(path));
}

Status Rollback::recordTemporary(const wstring& path) {
  if (journal.empty()) return Status();
  journal.back().temporaries.push_back(path);
  return Status();
}

void Rollback::forgetTemporaries() {
  // Swapped away: a large run would otherwise keep its capacity.
  if (!journal.empty()) std::vector<wstring>().swap(journal.back().temporaries);
}

void Rollback::removeRBFile(const wstring& path) {
  if (journal.empty()) return;
  std::vector<wstring>& files = journal.back().addedFiles;
  for (auto it = files.begin(); it != files.end(); ++it) {
    if (*it == path) {
      files.erase(it);
      return;
    }
  }
}
