#include "install/kit_removal.h"

#include <fcntl.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "install/catalog_lock.h"
#include "install/entry_comparison.h"
#include "install/entry_decision.h"
#include "install/record_folder.h"
#include "install/rollback.h"
#include "install/run_hooks.h"
#include "install/run_recovery.h"
#include "install/run_state.h"
#include "install/state_folder.h"
#include "platform/beneath_open.h"
#include "platform/system_path.h"
#include "platform/utf8.h"

namespace {

// A file the plan found holding exactly the kit's bytes.
struct Removable {
  std::string name;  // below the catalog, system bytes
  FolderIdentity folder;
  FileIdentity file;
  bool counted = true;  // one of the kit's files, not its record
};

// What a removal takes out: the names of a kit's files (system bytes,
// below the catalog, each once) and whether an open file holds the kit's
// bytes for one of them.
struct RemovalItems {
  std::vector<std::string> names;
  std::function<bool(size_t item, const File& file, const FileInfo& info)> holds;
};

// The files of `kit`, known by its bytes.
RemovalItems items_of_kit(const KitReader& kit, EntryComparison& comparison) {
  RemovalItems items;
  std::vector<unsigned long> indexes;
  std::set<std::string> seen;
  for (unsigned long i = 0; i < kit.entries.size(); ++i) {
    const wstring name = normalised_kit_name(kit.entries[i].name);
    std::string system;
    if (name.empty() || !to_system_path(name, system) || !seen.insert(system).second) continue;
    items.names.push_back(system);
    indexes.push_back(i);
  }
  items.holds = [&kit, &comparison, indexes](size_t item, const File& file, const FileInfo& info) {
    bool same = false;
    const unsigned long index = indexes[item];
    return info.size == kit.entries[index].size &&
           comparison.compare(kit, index, file, same).ok() && same;
  };
  return items;
}

// The files a record lists, known by their hashes.
RemovalItems items_of_record(const KitRecord& record) {
  RemovalItems items;
  for (const RecordedFile& file : record.files) items.names.push_back(file.name);
  items.holds = [&record](size_t item, const File& file, const FileInfo& info) {
    const RecordedFile& recorded = record.files[item];
    FileHash hash{};
    uint64_t size = 0;
    return info.size == recorded.size && hash_file(file, hash, size).ok() &&
           size == recorded.size && hash == recorded.hash;
  };
  return items;
}

// Every file another kit's record lists, and the name of one such kit:
// such a file stays with that kit. Another user's record of the same kit
// (the same kit installed again by someone else) keeps nothing back.
std::map<std::string, std::string> files_of_others(const CatalogRecords& records,
                                                   const std::string& kitName) {
  std::map<std::string, std::string> out;
  for (const FoundRecord& found : records.records) {
    if (found.record.name == kitName) continue;
    for (const RecordedFile& file : found.record.files) out.emplace(file.name, found.record.name);
  }
  return out;
}

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

// Sorts the kit's files into those to remove and those to keep, each
// place once; a file another kit's record lists stays.
void plan_files(const RemovalItems& items, const std::map<std::string, std::string>& others,
                const Directory& catalog, RemovalPlan& plan, std::vector<Removable>& removable) {
  PlainFolder folder;
  for (size_t i = 0; i < items.names.size(); ++i) {
    const std::string& system = items.names[i];
    std::string relative;
    std::string leaf;
    split_relative(system, relative, leaf);
    const wstring path = catalog.pathOf(from_system_path(system));
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
    const auto other = others.find(system);
    if (other != others.end()) {
      plan.kept.push_back({path, u"also installed by " + utf8_to_wide(other->second)});
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
        items.holds(i, file, opened);
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
  const unsigned long total = static_cast<unsigned long>(
      std::count_if(removable.begin(), removable.end(), [](const Removable& r) { return r.counted; }));
  for (const Removable& file : removable) {
    if (!status.ok()) break;
    if (progress && file.counted) {
      progress(handled++, total, catalog.pathOf(from_system_path(file.name)));
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
    if (status.ok() && file.counted) removed.push_back(path);
  }
  if (status.ok() && folder.directory.isOpen()) status = folder.directory.sync();
  if (status.ok()) status = rollback.syncBackups();
  if (status.ok()) status = rollback.commit(&outcome.foldersRemoved);
  if (status.ok()) outcome.plan.removed = removed;
  if (status.ok() && progress) progress(total, total, wstring());
  return status;
}

}  // namespace

Status no_record(const CatalogRecords& records, const std::string& name, const wstring& catalog) {
  const FoundRecord* other = records.any(name);
  Status status = error_status(other != nullptr ? kErrorAccessDenied : kErrorFileNotFound, catalog);
  status.note = other != nullptr
                    ? u"the record of " + utf8_to_wide(name) + u" belongs to " +
                          owner_description(other->owner) + u", who alone may remove it"
                    : u"no kit named " + utf8_to_wide(name) + u" is recorded in this catalog";
  return status;
}

bool catalog_is_empty(const Directory& catalog) {
  std::vector<DirectoryEntry> entries;
  if (!catalog.list(entries).ok()) return false;
  for (const DirectoryEntry& entry : entries) {
    Directory below;
    // The run's state and the kit records are the catalog's own, not its
    // files.
    std::string name;
    unsigned uid = 0;
    if (entry.name == kRunStateFolderName ||
        (to_system_path(entry.name, name) && is_record_folder_name(name, uid))) {
      continue;
    }
    if (!entry.isDirectory || !catalog.openDirectory(entry.name, FollowLinks::kNo, below).ok() ||
        !catalog_is_empty(below)) {
      return false;
    }
  }
  return true;
}

namespace {

// What a removal removes: the files of the kit `kitName` by `itemsOf`,
// and the caller's record of it when there is one; the catalog is
// locked (or, for a dry run, only opened) first, and a dead run undone.
RemovalOutcome removal(const wstring& catalog, const std::string& kitName, bool dryRun,
                       const RemovalProgress& progress,
                       const std::vector<config::KitEntry>* kitEntries,
                       const std::function<Status(const CatalogRecords& records,
                                                  const FoundRecord*& record,
                                                  RemovalItems& items)>& itemsOf) {
  RemovalOutcome outcome;
  wstring path = catalog;
  if (!path.empty() && path.back() == kBadPathSeparatorChar) path.back() = kPathSeparatorChar;
  CatalogLock lock;
  Directory opened;
  // A dry run takes no lock: it writes nothing another run could disturb.
  outcome.failure = dryRun ? Directory::open(path, opened) : lock.acquire(path);
  const bool missing = outcome.failure.code == kErrorFileNotFound;
  if (missing) outcome.failure = Status();
  if (!outcome.failure.ok()) return outcome;
  if (missing || (!dryRun && !lock.held()) || (dryRun && !opened.isOpen())) {
    CatalogRecords none;
    const FoundRecord* record = nullptr;
    RemovalItems items;
    outcome.failure = itemsOf(none, record, items);
    return outcome;
  }
  const Directory& folder = dryRun ? opened : lock.directory();
  if (!dryRun) outcome.failure = recover_dead_run(folder, kitEntries, outcome.notes);
  if (!outcome.failure.ok()) return outcome;

  CatalogRecords records;
  read_catalog_records(folder, records);
  const std::vector<wstring> ignored = ignored_record_notes(records);
  outcome.notes.insert(outcome.notes.end(), ignored.begin(), ignored.end());
  const FoundRecord* record = nullptr;
  RemovalItems items;
  outcome.failure = itemsOf(records, record, items);
  if (!outcome.failure.ok()) return outcome;
  std::vector<Removable> removable;
  plan_files(items, files_of_others(records, kitName), folder, outcome.plan, removable);
  // The record goes last, with the run: a removal cut off keeps it.
  if (record != nullptr) {
    removable.push_back({record->name, record->folder, record->identity, false});
  }
  const std::vector<Emptied> emptied = emptied_folders(folder, removable);
  // The folder of records is the catalog's own: it goes when empty, but
  // is not one of the kit's folders the user is told of.
  bool recordFolderEmptied = false;
  for (const Emptied& name : emptied) {
    unsigned uid = 0;
    if (is_record_folder_name(name.name, uid)) {
      recordFolderEmptied = true;
      continue;
    }
    outcome.plan.folders.push_back(folder.pathOf(from_system_path(name.name)));
  }
  if (dryRun || removable.empty()) {
    outcome.foldersRemoved = dryRun ? outcome.plan.folders.size() : 0;
    return outcome;
  }
  run_hook(RunPoint::kRemovalPlanned);
  Rollback rollback;
  outcome.failure = run_removal(rollback, folder, removable, emptied, progress, outcome);
  FileInfo left;
  if (outcome.failure.ok() && recordFolderEmptied && outcome.foldersRemoved != 0 &&
      folder.info(SystemName{record_folder_name(record->owner)}, FollowLinks::kNo, left).ok() &&
      left.kind == PathKind::kMissing) {
    --outcome.foldersRemoved;
  }
  if (!outcome.failure.ok()) {
    rollback.rollback(outcome.failure.code);
    outcome.catalogRestored = !rollback.restoreFailed();
    outcome.keptBackups = rollback.keptBackupDir();
    outcome.notes.insert(outcome.notes.end(), rollback.notes().begin(), rollback.notes().end());
    outcome.foldersRemoved = 0;
  }
  return outcome;
}

}  // namespace

RemovalOutcome remove_kit(KitReader& kit, const wstring& catalog, bool dryRun,
                          const RemovalProgress& progress) {
  EntryComparison comparison;
  const std::string name = kit_name_of(kit.productInfo);
  return removal(catalog, name, dryRun, progress, &kit.entries,
                 [&](const CatalogRecords& records, const FoundRecord*& record,
                     RemovalItems& items) {
                   record = records.own(name);
                   items = items_of_kit(kit, comparison);
                   return Status();
                 });
}

RemovalOutcome remove_recorded_kit(const std::string& name, const wstring& catalog, bool dryRun,
                                   const RemovalProgress& progress) {
  return removal(catalog, name, dryRun, progress, nullptr,
                 [&](const CatalogRecords& records, const FoundRecord*& record,
                     RemovalItems& items) {
                   record = records.own(name);
                   if (record == nullptr) return no_record(records, name, catalog);
                   items = items_of_record(record->record);
                   return Status();
                 });
}
