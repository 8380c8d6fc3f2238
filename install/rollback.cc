#include "install/rollback.h"

#include <cerrno>
#include <string>

#include "platform/path_status.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/process_services.h"
#include "platform/string_utils.h"
#include "platform/system_path.h"
#include "platform/text_encoding.h"

namespace {

// More backup trees than anyone keeps; the bound only stops a loop over a
// temporary directory where mkdir keeps answering EEXIST.
constexpr unsigned kMaxBackupNumber = 1000000;
// The backup tree holds the user's files: nobody else may read it.
constexpr unsigned kBackupTreeMode = 0700;

bool ends_with_separator(const wstring& path) {
  return !path.empty() &&
         (path.back() == kPathSeparatorChar || path.back() == kBadPathSeparatorChar);
}

wstring without_trailing_separators(wstring path) {
  while (path.size() > 1 && ends_with_separator(path)) path.pop_back();
  return path;
}

}  // namespace

unsigned Rollback::start(const wstring& targetDir) { return startRun(targetDir).code; }

Status Rollback::startRun(const wstring& targetDir) {
  journal.emplace_back();
  journal.back().targetDir = targetDir;
  if (targetDir.empty()) return Status();

  wstring tempDir;
  unsigned rc = FileSystem::GetTempPath(tempDir);
  if (rc != kErrorSuccess) return error_status(rc, tempDir);
  rc = makeDirectoryTree(tempDir);
  if (rc != kErrorSuccess) return error_status(rc, tempDir);
  Directory temp;
  Status status = Directory::open(tempDir, temp);
  if (!status.ok()) return status;

  // The tree holds the user's old files: it must be a fresh directory that
  // nobody else can read or has prepared. mkdir is the existence test, so a
  // name that appears between a check and the creation cannot be taken.
  for (unsigned n = 0; n < kMaxBackupNumber; ++n) {
    const wstring name = u"r8stp" + string_uito(n, 10);
    status = temp.makeDirectory(name, kBackupTreeMode);
    if (status.code == kErrorAlreadyExists) continue;
    if (!status.ok()) return status;
    const wstring backupDir = temp.pathOf(name) + kPathSeparator;
    Directory tree;
    status = temp.openDirectory(name, FollowLinks::kNo, tree);
    if (status.ok()) status = runJournal.create(tree, targetDir);
    // Another run's recovery took the tree for a dead run's empty one in
    // the instant before the journal existed: take the next number.
    if (status.code == kErrorFileNotFound) continue;
    journal.back().backupDir = backupDir;
    addRBCatalog(backupDir);
    return status;
  }
  return error_status(kErrorAlreadyExists, tempDir);
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

unsigned Rollback::makeDirectoryTree(const wstring& path) { return makeTree(path, true); }

unsigned Rollback::makeBackupDirectoryTree(const wstring& path) { return makeTree(path, false); }

unsigned Rollback::makeTree(const wstring& path, bool journalCreated) {
  if (isDiskRoot(path)) return kErrorSuccess;
  unsigned rc = FileSystem::CreateDirectory(path);
  if (rc == kErrorSuccess) {
    if (journalCreated) addRBCatalog(path);
    return kErrorSuccess;
  }
  if (rc == kErrorAlreadyExists) return kErrorSuccess;

  // Paths written with backslashes are built one level at a time.
  const size_t backslash = path.rfind(kBadPathSeparatorChar);
  if (backslash == wstring::npos) return kErrorPathNotFound;
  if (backslash == 2 && path[1] == u':') return kErrorPathNotFound;
  rc = makeTree(path.substr(0, backslash), journalCreated);
  if (rc != kErrorSuccess) return rc;
  rc = FileSystem::CreateDirectory(path);
  if (rc != kErrorSuccess) return rc;
  if (journalCreated) addRBCatalog(path);
  return kErrorSuccess;
}

unsigned Rollback::rollback(unsigned code) {
  m_restoreFailed = false;
  if (journal.empty()) return code;
  const RollbackRecord record = journal.back();
  // What the run added goes first: on a full disk that frees the room the
  // restored files need.
  for (const wstring& file : record.temporaries) FileSystem::DeleteFile(file);
  for (const wstring& file : record.addedFiles) FileSystem::DeleteFile(file);
  bool restored = true;
  if (!record.targetDir.empty() && !record.backupDir.empty()) {
    restored = restoreFiles(record.targetDir, record.backupDir);
  }
  for (const wstring& dir : record.createdDirs) {
    if (dir != record.backupDir) removeDirectoryTree(dir);
  }
  // A backup that could not be moved back is the only copy of the user's
  // file: the tree then stays in the temporary directory, journal and all.
  m_restoreFailed = !restored;
  if (!record.backupDir.empty() && restored) removeTreeJournalLast(record.backupDir);
  return code;
}

unsigned Rollback::stop() {
  if (journal.empty()) return kErrorSuccess;
  runJournal.append(JournalKind::kCommitted, journal.back().targetDir);
  removeTreeJournalLast(journal.back().backupDir);
  return kErrorSuccess;
}

void Rollback::removeBackupTree() {
  if (!journal.empty()) removeTreeJournalLast(journal.back().backupDir);
}

void Rollback::removeTreeJournalLast(const wstring& backupDir) {
  if (backupDir.empty()) return;
  const wstring journalName = kRunJournalName;
  std::vector<DirectoryEntry> entries;
  list_directory(backupDir, entries);
  for (const DirectoryEntry& entry : entries) {
    if (entry.name != journalName) removeDirectoryTree(backupDir + entry.name);
  }
  if (runJournal.isOpen()) {
    runJournal.discard();
  } else {
    FileSystem::DeleteFile(backupDir + journalName);
  }
  removeDirectoryTree(backupDir);
}

void Rollback::adopt(const RollbackRecord& record) { journal.push_back(record); }

void Rollback::rollbackFiles(const wstring& targetDir, const wstring& backupDir) {
  restoreFiles(targetDir, backupDir);
}

bool Rollback::restoreFiles(const wstring& targetDir, const wstring& backupDir) {
  std::vector<DirectoryEntry> entries;
  if (!list_directory(backupDir, entries)) return false;
  bool allMoved = true;
  for (const DirectoryEntry& entry : entries) {
    if (entry.name == kRunJournalName) continue;
    if (entry.isDirectory) {
      allMoved &= restoreFiles(targetDir + entry.name + kPathSeparator,
                               backupDir + entry.name + kPathSeparator);
    } else if (FileSystem::MoveFile(backupDir + entry.name, targetDir + entry.name) !=
               kErrorSuccess) {
      allMoved = false;
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

void Rollback::addRBCatalog(const wstring& path) { recordCreatedDir(path); }

void Rollback::addRBFile(const wstring& path) { recordAddedFile(path); }

Status Rollback::recordCreatedDir(const wstring& path) {
  if (journal.empty()) return Status();
  journal.back().createdDirs.push_back(path);
  return runJournal.append(JournalKind::kCreatedDir, path);
}

Status Rollback::recordAddedFile(const wstring& path) {
  if (journal.empty()) return Status();
  journal.back().addedFiles.push_back(path);
  return runJournal.append(JournalKind::kAddedFile, path);
}

Status Rollback::recordTemporary(const wstring& path) {
  if (journal.empty()) return Status();
  journal.back().temporaries.push_back(path);
  return runJournal.append(JournalKind::kTemporary, path);
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
