#include "install/install_plan.h"

#include <map>
#include <set>
#include <string>

#include "install/catalog_walk.h"
#include "platform/system_path.h"

namespace {

// What the plan has already decided to write: files by name and by the
// identity of their folder, and the folders it will make.
class PlannedWrites {
 public:
  // Applies the plan so far to what the disk showed for `name`: a refusal
  // when an earlier entry puts a file where this one needs a folder, or
  // needs a folder where this one is a file; else the file an earlier entry
  // placed there, if any.
  Status apply(const wstring& name, const wstring& destination, const FileInfo& parent,
               ExistingCopy& existing) const {
    for (size_t slash = name.find(kPathSeparatorChar); slash != wstring::npos;
         slash = name.find(kPathSeparatorChar, slash + 1)) {
      if (m_byName.count(name.substr(0, slash)) != 0) {
        return error_status(kErrorPathNotFound, destination.substr(0, destination.size() -
                                                                          name.size() + slash));
      }
    }
    if (m_folders.count(name) != 0) return error_status(kErrorAlreadyExists, destination);
    const ExistingCopy* placed = find(m_byName, name);
    if (placed == nullptr && parent.kind == PathKind::kDirectory) {
      placed = find(m_byIdentity, identity(parent, name));
    }
    if (placed != nullptr) existing = *placed;
    return Status();
  }

  void add(const wstring& name, const FileInfo& parent, const config::KitEntry& entry) {
    ExistingCopy placed;
    placed.kind = ExistingCopy::Kind::kFile;
    placed.size = entry.size;
    // The time the placement gives it: the kit's, to the second.
    placed.modified = FileTimeToEpoch(entry.lastWriteTime);
    placed.backupBytes = entry.size;
    placed.placedByThisRun = true;
    m_byName[name] = placed;
    if (parent.kind == PathKind::kDirectory) m_byIdentity[identity(parent, name)] = placed;
    for (size_t slash = name.find(kPathSeparatorChar); slash != wstring::npos;
         slash = name.find(kPathSeparatorChar, slash + 1)) {
      m_folders.insert(name.substr(0, slash));
    }
  }

 private:
  using Files = std::map<wstring, ExistingCopy>;

  static const ExistingCopy* find(const Files& files, const wstring& key) {
    const auto found = files.find(key);
    return found == files.end() ? nullptr : &found->second;
  }

  static wstring identity(const FileInfo& parent, const wstring& name) {
    const size_t slash = name.rfind(kPathSeparatorChar);
    const std::string folder = std::to_string(parent.device) + ":" + std::to_string(parent.inode);
    return wstring(folder.begin(), folder.end()) + u"/" +
           (slash == wstring::npos ? name : name.substr(slash + 1));
  }

  Files m_byName;
  Files m_byIdentity;
  std::set<wstring> m_folders;
};

// Fills `landsAt` of the entries to be written whose folder the walk
// reaches through a link: the folder's real place, as the kernel names it.
void note_where_entries_land(const Directory& catalog, InstallPlan& plan) {
  const wstring catalogReal = catalog.realPath();
  wstring lastFolder;
  wstring lastReal;
  bool known = false;
  for (PlannedEntry& entry : plan.entries) {
    if (entry.action != EntryAction::kWriteNew && entry.action != EntryAction::kReplace) continue;
    const size_t slash = entry.name.rfind(kPathSeparatorChar);
    const wstring folder = slash == wstring::npos ? wstring() : entry.name.substr(0, slash);
    if (!known || folder != lastFolder) {
      known = true;
      lastFolder = folder;
      lastReal.clear();
      // The deepest level that exists already, and what the run would
      // make below it.
      wstring existing = folder;
      wstring missing;
      Directory reached;
      while (!existing.empty() &&
             !open_catalog_directory(catalog, existing, false, {}, reached).ok()) {
        const size_t cut = existing.rfind(kPathSeparatorChar);
        const wstring level = cut == wstring::npos ? existing : existing.substr(cut + 1);
        missing = level + kPathSeparator + missing;
        existing = cut == wstring::npos ? wstring() : existing.substr(0, cut);
      }
      if (!existing.empty()) {
        const wstring real = reached.realPath() + missing;
        if (real != catalogReal + folder + kPathSeparator) lastReal = real;
      }
    }
    if (!lastReal.empty()) entry.landsAt = lastReal + entry.name.substr(slash + 1);
  }
}

}  // namespace

InstallPlan plan_entries(const std::vector<config::KitEntry>& entries, const wstring& catalogPath,
                         const Directory* catalog) {
  InstallPlan plan;
  PlannedWrites written;
  FolderCache folder;
  plan.entries.reserve(entries.size());
  for (const config::KitEntry& entry : entries) {
    PlannedEntry planned;
    planned.name = normalised_kit_name(entry.name);
    // A name without exact bytes is refused by the probe below.
    to_system_path(planned.name, planned.systemName);
    FileInfo parent;
    Status refusal;
    if (catalog != nullptr) {
      refusal = probe_destination(*catalog, planned.name, planned.existing, parent, &folder);
    }
    planned.onDisk = planned.existing;
    const wstring destination = catalogPath + planned.name;
    if (refusal.ok()) refusal = written.apply(planned.name, destination, parent, planned.existing);
    planned.action = refusal.ok() ? decide_entry(planned.existing, entry.lastWriteTime, entry.size)
                                  : EntryAction::kRefuse;
    if (!refusal.ok()) plan.refusal = std::move(refusal);
    switch (planned.action) {
      case EntryAction::kWriteNew:
        ++plan.filesNew;
        plan.bytesToWrite += entry.size;
        break;
      case EntryAction::kReplace:
        ++plan.filesReplaced;
        plan.bytesToWrite += entry.size;
        break;
      case EntryAction::kKeep: ++plan.upToDate; break;
      case EntryAction::kRefuse: break;
    }
    if (planned.action == EntryAction::kWriteNew || planned.action == EntryAction::kReplace) {
      written.add(planned.name, parent, entry);
    }
    plan.entries.push_back(std::move(planned));
    if (plan.refused()) break;
  }
  return plan;
}

namespace {

// A failure of the kit's completion, named after the kit when the reader
// named nothing (a full temporary directory), its note (damage, a refused
// signature) kept.
Status named_after(Status status, const wstring& kitPath) {
  if (!status.ok() && status.path.empty()) status.path = kitPath;
  return status;
}

}  // namespace

Status unpack_kit_for_plan(const InstallPlan& plan, KitReader& kit, bool background) {
  if (plan.writes() == 0 || kit.isComplete()) return Status();
  if (background) {
    kit.completeInBackground();
    return Status();
  }
  const wstring kitPath = kit.kitPath();
  return named_after(kit.file().complete(), kitPath);
}

Status kit_found_whole(KitReader& kit) {
  // Taken first: a failed completion closes the reader.
  const wstring kitPath = kit.kitPath();
  return named_after(kit.file().finishCompletion(), kitPath);
}

unsigned plan_install(const KitReader& kit, const wstring& catalog, InstallPlan& plan,
                      Status& failure, Directory* opened) {
  return plan_install_of(kit.entries, catalog, plan, failure, opened);
}

unsigned plan_install_of(const std::vector<config::KitEntry>& entries, const wstring& catalog,
                         InstallPlan& plan, Status& failure, Directory* opened) {
  failure = Status();
  wstring path = catalog;
  if (!path.empty() && path.back() == kBadPathSeparatorChar) path.back() = kPathSeparatorChar;
  Directory directory;
  const Status status = Directory::open(path, directory);
  if (!status.ok() && status.code != kErrorFileNotFound) {
    failure = status;
    plan = InstallPlan();
    return failure.code;
  }
  if (path.empty() || path.back() != kPathSeparatorChar) path += kPathSeparator;
  plan = plan_entries(entries, path, status.ok() ? &directory : nullptr);
  if (status.ok()) note_where_entries_land(directory, plan);
  if (opened != nullptr) *opened = std::move(directory);
  if (plan.refused()) failure = plan.refusal;
  return failure.code;
}
