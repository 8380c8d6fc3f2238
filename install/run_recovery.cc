#include "install/run_recovery.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "install/rollback.h"
#include "install/run_journal.h"
#include "install/run_state.h"
#include "platform/process_services.h"
#include "platform/random_name.h"
#include "platform/system_path.h"

namespace {

// A journal path may only name something below the catalog: relative, with
// no empty, "." or ".." component that could lead out of it. "" is the
// catalog itself.
bool safe_relative(const wstring& path) {
  if (path.empty()) return true;
  const wstring wrapped = u"/" + path + u"/";
  return path[0] != kPathSeparatorChar && wrapped.find(u"/../") == wstring::npos &&
         wrapped.find(u"/./") == wstring::npos && wrapped.find(u"//") == wstring::npos;
}

// The dead run's record, from its journal (which may say nothing).
RollbackRecord record_of(const JournalContents& contents, const wstring& catalog) {
  RollbackRecord record;
  record.targetDir = catalog;
  record.backupDir =
      catalog + kRunStateFolderName + kPathSeparator + kRunBackupFolderName + kPathSeparator;
  for (const wstring& path : contents.createdDirs) {
    if (safe_relative(path)) record.createdDirs.push_back(catalog + path);
  }
  for (const wstring& path : contents.addedFiles) {
    if (safe_relative(path) && !path.empty()) record.addedFiles.push_back(catalog + path);
  }
  for (const wstring& path : contents.foldersToRemove) {
    if (safe_relative(path) && !path.empty()) record.foldersToRemove.push_back(catalog + path);
  }
  return record;
}

// Removes this user's hidden temporaries everywhere below `folder` (no link
// is followed: only regular files are removed), but in the state folder.
void sweep_hidden_temporaries(const Directory& folder) {
  std::vector<DirectoryEntry> entries;
  if (!folder.list(entries).ok()) return;
  for (const DirectoryEntry& entry : entries) {
    if (entry.isDirectory) {
      Directory below;
      if (entry.name != kRunStateFolderName &&
          folder.openDirectory(entry.name, FollowLinks::kNo, below).ok()) {
        sweep_hidden_temporaries(below);
      }
      continue;
    }
    std::string name;
    FileInfo info;
    if (to_system_path(entry.name, name) && is_hidden_temporary_name(name) &&
        folder.info(entry.name, FollowLinks::kNo, info).ok() &&
        info.kind == PathKind::kRegular && info.owner == ::geteuid()) {
      folder.remove(entry.name);
    }
  }
}

// The refusal of a state folder that another user's run left.
Status foreign_run(const wstring& statePath, unsigned owner, const wstring& catalog) {
  Status status = error_status(kErrorAccessDenied, statePath);
  status.note = u"an unfinished installation of the user " + user_name(owner) + u" into " +
                catalog + u"; that user must run it again first";
  return status;
}

}  // namespace

Status recover_dead_run(const Directory& catalog) {
  FileInfo info;
  Status status = catalog.info(kRunStateFolderName, FollowLinks::kNo, info);
  if (!status.ok()) return status;
  if (info.kind == PathKind::kMissing) return Status();
  const wstring statePath = catalog.pathOf(kRunStateFolderName);
  if (info.kind != PathKind::kDirectory) return error_status(kErrorAlreadyExists, statePath);
  if (info.owner != ::geteuid() && ::geteuid() != 0) {
    return foreign_run(statePath, info.owner, catalog.path());
  }

  Directory state;
  File journalFile;
  JournalContents contents;
  if (catalog.openDirectory(kRunStateFolderName, FollowLinks::kNo, state).ok() &&
      state.openFile(kRunJournalName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, journalFile).ok()) {
    // The lock is free only once its run has ended.
    if (!journalFile.lock(LockMode::kExclusive, LockWait::kNo).ok()) {
      return error_status(kErrorSharingViolation, statePath);
    }
    RunJournal::read(journalFile, contents);
  }
  Rollback rollback;
  const RollbackRecord record = record_of(contents, catalog.path());
  rollback.adopt(record);
  if (contents.readable && contents.committed) {
    rollback.removeBackupTree();
  } else {
    rollback.rollback(kErrorSuccess);
  }
  // A placement or a move killed halfway leaves its copy under a hidden
  // name that no journal needs to hold.
  sweep_hidden_temporaries(catalog);
  if (rollback.restoreFailed()) return error_status(kErrorAlreadyExists, record.backupDir);
  return Status();
}
