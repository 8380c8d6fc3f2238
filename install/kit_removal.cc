#include "install/kit_removal.h"

#include <fcntl.h>

#include <algorithm>
#include <set>
#include <string>

#include "install/catalog_lock.h"
#include "install/entry_comparison.h"
#include "install/entry_decision.h"
#include "install/rollback.h"
#include "install/run_hooks.h"
#include "install/run_recovery.h"
#include "install/run_state.h"
#include "platform/beneath_open.h"
#include "platform/system_path.h"

namespace {

// A file the plan found holding exactly the kit's bytes.
struct Removable {
  std::string name;  // below the catalog, system bytes
  FolderIdentity folder;
  FileIdentity file;
};

// A folder the removal leaves empty.
struct Emptied {
  std::string name;
  FolderIdentity parent;
  FolderIdentity self;
};

// The folder of the entries looked at last, opened below the catalog
// without following a link.
struct PlainFolder {
  bool valid = false;
  std::string relative;
  Status opened;
  Directory directory;
  FileInfo info;
};

const PlainFolder& reach(const Directory& catalog, const std::string& relative,
                         PlainFolder& cache) {
  if (!cache.valid || cache.relative != relative) {
    cache = PlainFolder();
    cache.valid = true;
    cache.relative = relative;
    cache.opened = open_beneath(catalog, relative, cache.directory);
    if (cache.opened.ok()) cache.opened = cache.directory.info(cache.info);
  }
  return cache;
}

// Whether `file` (open, regular) holds exactly the bytes of entry `index`.
bool holds_entry(const File& file, const FileInfo& info, const KitReader& kit,
                 unsigned long index, EntryComparison& comparison) {
  bool same = false;
  return info.size == kit.entries[index].size &&
         comparison.compare(kit, index, file, same).ok() && same;
}

// Sorts the kit's files into those to remove and those to keep, each
// place once.
void plan_files(const KitReader& kit, const Directory& catalog, RemovalPlan& plan,
                std::vector<Removable>& removable) {
  std::set<std::string> seen;
  PlainFolder folder;
  EntryComparison comparison;
  for (unsigned long i = 0; i < kit.entries.size(); ++i) {
    const wstring name = normalised_kit_name(kit.entries[i].name);
    std::string system;
    if (name.empty() || !to_system_path(name, system) || !seen.insert(system).second) continue;
    std::string relative;
    std::string leaf;
    split_relative(system, relative, leaf);
    const wstring path = catalog.pathOf(name);
    const PlainFolder& reached = reach(catalog, relative, folder);
    if (!reached.opened.ok()) {
      const int err = reached.opened.systemError;
      if (err == ELOOP) plan.kept.push_back({path, u"a link on the way"});
      if (err == ENOTDIR) plan.kept.push_back({path, u"not a folder on the way"});
      continue;  // otherwise a level is missing: nothing to remove
    }
    FileInfo here;
    if (!reached.directory.info(SystemName{leaf}, FollowLinks::kNo, here).ok() ||
        here.kind == PathKind::kMissing) {
      continue;
    }
    if (here.kind == PathKind::kSymlink) {
      plan.kept.push_back({path, u"a link"});
      continue;
    }
    if (here.kind != PathKind::kRegular) {
      plan.kept.push_back({path, u"not a file"});
      continue;
    }
    File file;
    FileInfo opened;
    const bool same =
        reached.directory.openFile(SystemName{leaf}, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, file)
            .ok() &&
        file.info(opened).ok() && opened.sameFile(here) && opened.kind == PathKind::kRegular &&
        holds_entry(file, opened, kit, i, comparison);
    if (!same) {
      plan.kept.push_back({path, u"changed"});
      continue;
    }
    plan.removed.push_back(path);
    removable.push_back({system, folder_identity_of(reached.info), file_identity_of(opened)});
  }
}

// The folders of `removable` below the catalog, deepest first.
std::vector<std::string> folders_of(const std::vector<Removable>& removable) {
  std::set<std::string> folders;
  for (const Removable& file : removable) {
    const std::string& name = file.name;
    for (size_t slash = name.rfind('/'); slash != std::string::npos && slash != 0;
         slash = name.rfind('/', slash - 1)) {
      folders.insert(name.substr(0, slash));
    }
  }
  std::vector<std::string> out(folders.begin(), folders.end());
  // A folder sorts before everything below it: reversed, deepest first.
  std::reverse(out.begin(), out.end());
  return out;
}

// Which folders of the removable files hold nothing once those files and
// the folders found empty before them are gone.
std::vector<Emptied> emptied_folders(const Directory& catalog,
                                     const std::vector<Removable>& removable) {
  std::set<std::string> gone;
  for (const Removable& file : removable) gone.insert(file.name);
  std::vector<Emptied> emptied;
  for (const std::string& folder : folders_of(removable)) {
    std::string above;
    std::string leaf;
    split_relative(folder, above, leaf);
    Directory opened;
    Directory parent;
    std::vector<DirectoryEntry> entries;
    FileInfo self;
    FileInfo parentInfo;
    if (!open_beneath(catalog, folder, opened).ok() || !opened.list(entries).ok() ||
        !opened.info(self).ok() || !open_beneath(catalog, above, parent).ok() ||
        !parent.info(parentInfo).ok()) {
      continue;
    }
    bool empty = true;
    for (const DirectoryEntry& entry : entries) {
      std::string name;
      empty &= to_system_path(entry.name, name) && gone.count(folder + "/" + name) != 0;
    }
    if (!empty) continue;
    gone.insert(folder);
    emptied.push_back({folder, folder_identity_of(parentInfo), folder_identity_of(self)});
  }
  return emptied;
}

// The removal run proper, with the catalog locked: every file journaled,
// moved into the backup tree (which takes it out of the catalog) and
// checked there, then the commit.
Status run_removal(Rollback& rollback, const Directory& catalog,
                   const std::vector<Removable>& removable, const std::vector<Emptied>& emptied,
                   const RemovalProgress& progress, RemovalOutcome& outcome) {
  Status status = rollback.startRun(catalog);
  if (!status.ok()) return status;
  for (const Emptied& folder : emptied) {
    rollback.recordFolderToRemove(folder.parent, folder.name, folder.self);
  }
  for (const Removable& file : removable) rollback.recordBackedUp(file.folder, file.name, file.file);
  status = rollback.syncJournal();
  PlainFolder folder;
  std::vector<wstring> removed;
  unsigned long handled = 0;
  for (const Removable& file : removable) {
    if (!status.ok()) break;
    if (progress) {
      progress(handled++, removable.size(), catalog.pathOf(from_system_path(file.name)));
    }
    std::string relative;
    std::string leaf;
    split_relative(file.name, relative, leaf);
    const wstring path = catalog.pathOf(from_system_path(file.name));
    if (folder.valid && folder.relative != relative && folder.directory.isOpen()) {
      status = folder.directory.sync();
      if (!status.ok()) break;
    }
    const PlainFolder& reached = reach(catalog, relative, folder);
    // The plan's folder, reached the plan's way, or the file stays.
    if (!reached.opened.ok() || folder_identity_of(reached.info) != file.folder) {
      outcome.plan.kept.push_back({path, u"changed since the plan"});
      continue;
    }
    status = rollback.moveToBackup(reached.directory, file.name, SystemName{leaf}, file.file);
    if (status.code == kErrorFileNotFound || status.code == kErrorAlreadyExists) {
      // Gone or changed since the plan: not the file compared.
      if (status.code == kErrorAlreadyExists) {
        outcome.plan.kept.push_back({path, u"changed since the plan"});
      }
      status = Status();
      continue;
    }
    if (status.ok()) removed.push_back(path);
  }
  if (status.ok() && folder.directory.isOpen()) status = folder.directory.sync();
  if (status.ok()) status = rollback.syncBackups();
  if (status.ok()) status = rollback.commit(&outcome.foldersRemoved);
  if (status.ok()) outcome.plan.removed = removed;
  if (status.ok() && progress) progress(removable.size(), removable.size(), wstring());
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

RemovalOutcome remove_kit(KitReader& kit, const wstring& catalog, bool dryRun,
                          const RemovalProgress& progress) {
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
  if (!dryRun) outcome.failure = recover_dead_run(folder, &kit.entries, outcome.notes);
  if (!outcome.failure.ok()) return outcome;

  std::vector<Removable> removable;
  plan_files(kit, folder, outcome.plan, removable);
  const std::vector<Emptied> emptied = emptied_folders(folder, removable);
  for (const Emptied& name : emptied) {
    outcome.plan.folders.push_back(folder.pathOf(from_system_path(name.name)));
  }
  if (dryRun || removable.empty()) {
    outcome.foldersRemoved = dryRun ? emptied.size() : 0;
    return outcome;
  }
  run_hook(RunPoint::kRemovalPlanned);
  Rollback rollback;
  outcome.failure = run_removal(rollback, folder, removable, emptied, progress, outcome);
  if (!outcome.failure.ok()) {
    rollback.rollback(outcome.failure.code);
    outcome.catalogRestored = !rollback.restoreFailed();
    outcome.keptBackups = rollback.keptBackupDir();
    outcome.notes.insert(outcome.notes.end(), rollback.notes().begin(), rollback.notes().end());
    outcome.foldersRemoved = 0;
  }
  return outcome;
}
