#include "install/run_recovery.h"

#include <fcntl.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "install/rollback.h"
#include "install/run_journal.h"
#include "platform/path_status.h"
#include "platform/random_name.h"
#include "platform/system_path.h"

namespace {

// Permission bits of group and others: a backup tree has none.
constexpr unsigned kGroupOtherBits = 077;

bool is_backup_tree_name(const wstring& name) {
  const wstring prefix = u"r8stp";
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < u'0' || name[i] > u'9') return false;
  }
  return true;
}

// A journal path may only name something below the catalog, with no "."
// or ".." component that could lead out of it.
bool inside(const wstring& catalog, const wstring& path) {
  if (path.size() <= catalog.size() || path.compare(0, catalog.size(), catalog) != 0) {
    return false;
  }
  const wstring rest = u"/" + path.substr(catalog.size()) + u"/";
  return rest.find(u"/../") == wstring::npos && rest.find(u"/./") == wstring::npos &&
         rest.find(u"//") == wstring::npos;
}

// The catalog directories a dead run worked in: where it placed files and
// where its backups came from.
void collect_directories(const wstring& backupDir, const wstring& catalogDir,
                         std::set<wstring>& out) {
  out.insert(catalogDir);
  std::vector<DirectoryEntry> entries;
  if (!list_directory(backupDir, entries)) return;
  for (const DirectoryEntry& entry : entries) {
    if (!entry.isDirectory) continue;
    collect_directories(backupDir + entry.name + u"/", catalogDir + entry.name + u"/", out);
  }
}

// Removes this user's hidden temporaries from `path` (no link is followed:
// only regular files are removed).
void remove_hidden_temporaries(const wstring& path) {
  Directory directory;
  std::vector<DirectoryEntry> entries;
  if (!Directory::open(path, directory).ok() || !directory.list(entries).ok()) return;
  for (const DirectoryEntry& entry : entries) {
    std::string name;
    FileInfo info;
    if (to_system_path(entry.name, name) && is_hidden_temporary_name(name) &&
        directory.info(entry.name, FollowLinks::kNo, info).ok() &&
        info.kind == PathKind::kRegular && info.owner == ::geteuid()) {
      directory.remove(entry.name);
    }
  }
}

// The dead run's record, with every path its journal names checked to lie
// inside the catalog it names.
RollbackRecord record_of(const JournalContents& contents, const wstring& treePath) {
  RollbackRecord record;
  record.targetDir = contents.catalog;
  if (record.targetDir.empty() || record.targetDir.back() != u'/') record.targetDir += u"/";
  record.backupDir = treePath;
  for (const wstring& path : contents.createdDirs) {
    if (inside(record.targetDir, path)) record.createdDirs.push_back(path);
  }
  for (const wstring& path : contents.addedFiles) {
    if (inside(record.targetDir, path)) record.addedFiles.push_back(path);
  }
  for (const wstring& path : contents.temporaries) {
    if (inside(record.targetDir, path)) record.temporaries.push_back(path);
  }
  return record;
}

// Undoes (or, when it had committed, tidies) the dead run of `contents`.
void undo_dead_run(const JournalContents& contents, const wstring& treePath) {
  const RollbackRecord record = record_of(contents, treePath);
  // A move killed halfway leaves its copy under a hidden name that the
  // journal may not hold; the places the run worked in are swept for it.
  std::set<wstring> places;
  collect_directories(treePath, record.targetDir, places);
  for (const wstring& path : record.temporaries) {
    places.insert(path.substr(0, path.rfind(u'/') + 1));
  }
  Rollback rollback;
  rollback.adopt(record);
  if (contents.committed) {
    rollback.removeBackupTree();
  } else {
    rollback.rollback(kErrorSuccess);
  }
  for (const wstring& place : places) remove_hidden_temporaries(place);
}

// Opens the journal of the tree `name` when it belongs to a dead run of
// this user; false for a live run's, another user's or a finished run's.
bool open_dead_journal(const Directory& temp, const wstring& name, Directory& tree, File& journal) {
  FileInfo info;
  if (!temp.info(name, FollowLinks::kNo, info).ok() || info.kind != PathKind::kDirectory ||
      info.owner != ::geteuid() || (info.mode & kGroupOtherBits) != 0 ||
      !temp.openDirectory(name, FollowLinks::kNo, tree).ok()) {
    return false;
  }
  const Status opened =
      tree.openFile(kRunJournalName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, journal);
  if (!opened.ok()) {
    // A run killed between making its tree and its journal leaves the
    // tree empty; rmdir takes only an empty one (a live run in that
    // instant picks another number).
    if (opened.code == kErrorFileNotFound) temp.removeDirectory(name);
    return false;
  }
  // The lock is free only once its run has ended; a journal unlinked
  // meanwhile belongs to a run that ended well and must not be replayed.
  FileInfo status;
  return journal.lock(LockMode::kExclusive, LockWait::kNo).ok() && journal.info(status).ok() &&
         status.kind == PathKind::kRegular && status.owner == ::geteuid() && status.links != 0;
}

}  // namespace

unsigned recover_dead_runs(const wstring& tempDir, const Directory& catalog) {
  FileInfo catalogInfo;
  Directory temp;
  std::vector<DirectoryEntry> entries;
  if (!catalog.info(catalogInfo).ok() || !Directory::open(tempDir, temp).ok() ||
      !temp.list(entries).ok()) {
    return 0;
  }
  unsigned recovered = 0;
  for (const DirectoryEntry& entry : entries) {
    Directory tree;
    File journal;
    if (!is_backup_tree_name(entry.name) || !open_dead_journal(temp, entry.name, tree, journal)) {
      continue;
    }
    const wstring treePath = tree.path();
    JournalContents contents;
    if (!RunJournal::read(journal, contents)) {
      // Died before its first record: it did nothing yet, whatever catalog
      // it meant. Only its empty tree is left to remove.
      RollbackRecord empty;
      empty.backupDir = treePath;
      Rollback tidy;
      tidy.adopt(empty);
      tidy.removeBackupTree();
      continue;
    }
    Directory recorded;
    FileInfo recordedInfo;
    if (!Directory::open(contents.catalog, recorded).ok() ||
        !recorded.info(recordedInfo).ok() || !recordedInfo.sameFile(catalogInfo)) {
      continue;
    }
    undo_dead_run(contents, treePath);
    ++recovered;  // the tree, journal included, is gone unless a restore failed
  }
  return recovered;
}
