#include "install/kit_removal.h"

#include <fcntl.h>

#include <algorithm>
#include <set>

#include "install/catalog_lock.h"
#include "install/entry_comparison.h"
#include "install/entry_decision.h"
#include "install/rollback.h"
#include "install/run_recovery.h"
#include "install/run_state.h"

namespace {

// Whether the file `leaf` of `folder` is a regular file (not a link)
// holding exactly the bytes of entry `index`.
bool holds_entry(const Directory& folder, const wstring& leaf, const KitReader& kit,
                 unsigned long index, EntryComparison& comparison) {
  File file;
  FileInfo info;
  bool same = false;
  return folder.openFile(leaf, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, file).ok() &&
         file.info(info).ok() && info.kind == PathKind::kRegular &&
         info.size == kit.entries[index].size &&
         comparison.compare(kit, index, file, same).ok() && same;
}

// The folders of `names` (relative) below the catalog, deepest first.
std::vector<wstring> folders_of(const std::vector<wstring>& names) {
  std::set<wstring> folders;
  for (const wstring& name : names) {
    for (size_t slash = name.rfind(kPathSeparatorChar); slash != wstring::npos && slash != 0;
         slash = name.rfind(kPathSeparatorChar, slash - 1)) {
      folders.insert(name.substr(0, slash));
    }
  }
  std::vector<wstring> out(folders.begin(), folders.end());
  // A folder sorts before everything below it: reversed, deepest first.
  std::reverse(out.begin(), out.end());
  return out;
}

// Which of `candidates` (relative, deepest first) hold nothing once the
// files `removed` (relative) and the folders found empty before them are
// gone.
std::vector<wstring> emptied_folders(const Directory& catalog, const std::vector<wstring>& removed,
                                     const std::vector<wstring>& candidates) {
  std::set<wstring> gone(removed.begin(), removed.end());
  std::vector<wstring> emptied;
  for (const wstring& folder : candidates) {
    Directory opened;
    std::vector<DirectoryEntry> entries;
    if (!catalog.openDirectory(folder, FollowLinks::kNo, opened).ok() ||
        !opened.list(entries).ok()) {
      continue;
    }
    bool empty = true;
    for (const DirectoryEntry& entry : entries) empty &= gone.count(folder + u"/" + entry.name) != 0;
    if (!empty) continue;
    gone.insert(folder);
    emptied.push_back(folder);
  }
  return emptied;
}

// Sorts the kit's files into those to remove and those to keep (relative
// names in `removed`), each place once.
void plan_files(const KitReader& kit, const Directory& catalog, RemovalPlan& plan,
                std::vector<wstring>& removed) {
  std::set<wstring> seen;
  FolderCache cache;
  EntryComparison comparison;
  for (unsigned long i = 0; i < kit.entries.size(); ++i) {
    const wstring name = normalised_kit_name(kit.entries[i].name);
    if (!seen.insert(name).second) continue;
    ExistingCopy existing;
    FileInfo parent;
    if (!probe_destination(catalog, name, existing, parent, &cache).ok()) {
      plan.kept.push_back(catalog.pathOf(name));  // something else stands there
      continue;
    }
    if (existing.kind == ExistingCopy::Kind::kNone) continue;
    const size_t slash = name.rfind(kPathSeparatorChar);
    const bool same = existing.kind == ExistingCopy::Kind::kFile && cache.directory &&
                      holds_entry(*cache.directory, slash == wstring::npos ? name : name.substr(slash + 1),
                                  kit, i, comparison);
    (same ? plan.removed : plan.kept).push_back(catalog.pathOf(name));
    if (same) removed.push_back(name);
  }
}

// The removal run proper, with the catalog locked: every file backed up
// (which takes it out of the catalog), then the commit.
Status run_removal(Rollback& rollback, const Directory& catalog, const std::vector<wstring>& folders,
                   RemovalOutcome& outcome) {
  Status status = rollback.startRun(catalog.path());
  for (const wstring& folder : folders) {
    if (status.ok()) status = rollback.recordFolderToRemove(catalog.pathOf(folder));
  }
  if (status.ok()) status = rollback.syncJournal();
  std::set<wstring> changed;
  for (const wstring& path : outcome.plan.removed) {
    if (!status.ok()) break;
    status = rollback.storeBackup(path);
    changed.insert(path.substr(0, path.rfind(kPathSeparatorChar) + 1));
  }
  for (const wstring& folder : changed) rollback.noteChangedFolder(folder);
  if (status.ok()) status = rollback.commit(&outcome.foldersRemoved);
  return status;
}

}  // namespace

bool catalog_is_empty(const Directory& catalog) {
  std::vector<DirectoryEntry> entries;
  if (!catalog.list(entries).ok()) return false;
  for (const DirectoryEntry& entry : entries) {
    Directory below;
    if (entry.name == kRunStateFolderName) continue;
    if (!entry.isDirectory || !catalog.openDirectory(entry.name, FollowLinks::kNo, below).ok() ||
        !catalog_is_empty(below)) {
      return false;
    }
  }
  return true;
}

RemovalOutcome remove_kit(KitReader& kit, const wstring& catalog, bool dryRun) {
  RemovalOutcome outcome;
  wstring path = catalog;
  if (!path.empty() && path.back() == kBadPathSeparatorChar) path.back() = kPathSeparatorChar;
  CatalogLock lock;
  Directory opened;
  // A dry run takes no lock: it writes nothing another run could disturb.
  outcome.failure = dryRun ? Directory::open(path, opened) : lock.acquire(path);
  if (outcome.failure.code == kErrorFileNotFound) outcome.failure = Status();
  if (!outcome.failure.ok() || (!dryRun && !lock.held()) || (dryRun && !opened.isOpen())) {
    return outcome;
  }
  const Directory& folder = dryRun ? opened : lock.directory();
  if (!dryRun) outcome.failure = recover_dead_run(folder);
  if (!outcome.failure.ok()) return outcome;

  std::vector<wstring> removed;
  plan_files(kit, folder, outcome.plan, removed);
  const std::vector<wstring> emptied = emptied_folders(folder, removed, folders_of(removed));
  for (const wstring& name : emptied) outcome.plan.folders.push_back(folder.pathOf(name));
  if (dryRun || outcome.plan.removed.empty()) {
    outcome.foldersRemoved = dryRun ? emptied.size() : 0;
    return outcome;
  }
  Rollback rollback;
  outcome.failure = run_removal(rollback, folder, emptied, outcome);
  if (!outcome.failure.ok()) {
    rollback.rollback(outcome.failure.code);
    outcome.catalogRestored = !rollback.restoreFailed();
    outcome.keptBackups = rollback.keptBackupDir();
    outcome.foldersRemoved = 0;
  }
  return outcome;
}
