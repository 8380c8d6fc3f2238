#include "install/run_undo.h"

#include <unistd.h>

#include <cerrno>

#include "install/catalog_walk.h"
#include "install/entry_decision.h"
#include "install/run_state.h"
#include "platform/beneath_open.h"
#include "platform/random_name.h"
#include "platform/system_path.h"

namespace {

// Names tried beside a user's file for the old copy that cannot take its
// place.
constexpr int kBesideAttempts = 100;
constexpr char kOldCopySuffix[] = ".qxr8-old";

wstring wide(const std::string& bytes) { return from_system_path(bytes); }

bool is_file_or_link(const FileInfo& info) {
  return info.kind == PathKind::kRegular || info.kind == PathKind::kSymlink;
}

}  // namespace

struct RunUndo::Folder {
  std::string relative;
  FolderIdentity expected;
  bool check = false;
  Directory directory;  // open when the folder may be acted in
  Status why;           // else why not
  bool changed = false;
};

RunUndo::RunUndo(const Directory& catalog, StateFolder& state,
                 const std::vector<config::KitEntry>* kitEntries)
    : m_catalog(catalog), m_state(state), m_kitEntries(kitEntries) {}

RunUndo::~RunUndo() { syncChanged(); }

void RunUndo::note(const wstring& line) {
  if (m_notes.size() < kMaxNotes) {
    m_notes.push_back(line);
  } else {
    ++m_notesDropped;
  }
}

std::vector<wstring> RunUndo::notes() const {
  std::vector<wstring> out = m_notes;
  if (m_notesDropped != 0) {
    out.push_back(u"and " + wide(std::to_string(m_notesDropped)) + u" more kept in the same way");
  }
  return out;
}

Status RunUndo::syncChanged() {
  if (!m_cached || !m_cached->changed) return Status();
  m_cached->changed = false;
  return m_cached->directory.sync();
}

const Directory* RunUndo::folder(const std::string& relative, const FolderIdentity& expected,
                                 bool check, Status& why) {
  if (m_cached && m_cached->relative == relative && m_cached->check == check &&
      (!check || m_cached->expected == expected)) {
    why = m_cached->why;
    return m_cached->directory.isOpen() ? &m_cached->directory : nullptr;
  }
  // Each folder's changes are made durable before the next one is taken.
  syncChanged();
  auto next = std::make_unique<Folder>();
  next->relative = relative;
  next->expected = expected;
  next->check = check;
  Directory opened;
  Status status = open_beneath(m_catalog, relative, opened);
  if (!status.ok() && status.systemError == ELOOP && check) {
    // A link the run itself followed (the user's own) is followed again
    // only to the very folder the run wrote into.
    status = open_catalog_directory(m_catalog, wide(relative), false, {}, opened);
  }
  FileInfo info;
  if (status.ok()) status = opened.info(info);
  if (status.ok() && check && folder_identity_of(info) != expected) {
    status = error_status(kErrorAccessDenied, m_catalog.pathOf(wide(relative)));
    status.note = u"not the folder the run wrote into";
  }
  if (status.ok()) next->directory = std::move(opened);
  next->why = status;
  why = status;
  m_cached = std::move(next);
  return m_cached->directory.isOpen() ? &m_cached->directory : nullptr;
}

template <class Match>
RunUndo::Taken RunUndo::takeAway(const Directory& parent, const std::string& leaf,
                                 const Match& matches) {
  const SystemName name{leaf};
  FileInfo here;
  if (!parent.info(name, FollowLinks::kNo, here).ok() || here.kind == PathKind::kMissing) {
    return Taken::kGone;
  }
  if (!matches(here)) return Taken::kNotOurs;
  const Directory* trash = nullptr;
  if (!m_state.trash(trash).ok()) return Taken::kNotOurs;
  // Never over what an earlier, interrupted undo may have left there.
  SystemName held;
  Status moved;
  do {
    held = SystemName{"t" + std::to_string(++m_trashed)};
    moved = parent.renameNoReplace(name, *trash, held);
  } while (moved.code == kErrorAlreadyExists && moved.path == trash->pathOf(held));
  if (!moved.ok()) {
    if (moved.systemError == ENOENT) return Taken::kGone;
    // A folder on another file system (where the user's own link led the
    // run) cannot give its file to the private folder: it is looked at
    // where it stands, once more.
    if (moved.systemError != EXDEV || !parent.info(name, FollowLinks::kNo, here).ok() ||
        !matches(here) || !parent.remove(name).ok()) {
      return Taken::kNotOurs;
    }
    return Taken::kTaken;
  }
  // Checked where nobody else can change it.
  FileInfo held_info;
  if (trash->info(held, FollowLinks::kNo, held_info).ok() && matches(held_info)) {
    trash->remove(held);
    return Taken::kTaken;
  }
  // Swapped in between the look and the move: not the run's, it goes back.
  if (trash->renameNoReplace(held, parent, name).ok()) return Taken::kNotOurs;
  const wstring beside = putBeside(*trash, held, parent, leaf);
  if (beside.empty()) {
    m_backupsLeft = true;
    note(parent.pathOf(name) + u": changed while the run was undone; it is kept in " +
         trash->pathOf(held));
  } else {
    note(parent.pathOf(name) + u": changed while the run was undone; it is kept as " + beside);
  }
  return Taken::kNotOurs;
}

wstring RunUndo::putBeside(const Directory& source, const SystemName& from, const Directory& parent,
                           const std::string& leaf) {
  for (int attempt = 0; attempt < kBesideAttempts; ++attempt) {
    std::string name = leaf + kOldCopySuffix;
    if (attempt > 0) name += "-" + std::to_string(attempt + 1);
    const Status status = source.renameNoReplace(from, parent, SystemName{name});
    if (status.ok()) {
      if (m_cached && &m_cached->directory == &parent) m_cached->changed = true;
      return parent.pathOf(SystemName{name});
    }
    if (status.code != kErrorAlreadyExists) break;
  }
  return wstring();
}

template <class Match>
void RunUndo::restore(const Directory& parent, const std::string& name, const std::string& leaf,
                      const FileIdentity* original, const Match& replaceable) {
  const Directory* backupRoot = nullptr;
  // No backup tree: nothing was ever moved into it.
  if (!m_state.backup(backupRoot).ok()) return;
  std::string relativeFolder;
  std::string ignored;
  split_relative(name, relativeFolder, ignored);
  Directory backupFolder;
  if (!open_beneath(*backupRoot, relativeFolder, backupFolder).ok()) return;
  const SystemName kept{leaf};
  FileInfo info;
  if (!backupFolder.info(kept, FollowLinks::kNo, info).ok() || info.kind == PathKind::kMissing) {
    return;  // never moved there, or already back
  }
  if (original != nullptr ? file_identity_of(info) != *original : !is_file_or_link(info)) {
    m_backupsLeft = true;
    note(backupFolder.pathOf(kept) + u": not what the run moved there; it stays there");
    return;
  }
  Status status = backupFolder.renameNoReplace(kept, parent, kept);
  if (status.code == kErrorAlreadyExists && takeAway(parent, leaf, replaceable) != Taken::kNotOurs) {
    status = backupFolder.renameNoReplace(kept, parent, kept);
  }
  if (status.ok()) {
    m_cached->changed = true;
    return;
  }
  if (status.code == kErrorAlreadyExists) {
    const wstring beside = putBeside(backupFolder, kept, parent, leaf);
    if (!beside.empty()) {
      note(parent.pathOf(kept) + u": kept, it was saved there after the run; the copy the run "
                                 u"had replaced is now " + beside);
      return;
    }
  }
  m_backupsLeft = true;
  note(parent.pathOf(kept) + u": the copy the run had replaced could not be put back (" +
       status_reason(status) + u"); it is kept in " + backupFolder.pathOf(kept));
}

bool RunUndo::kitCopy(const std::string& name, uint64_t& size, int64_t& modified) {
  if (m_kitEntries == nullptr) return false;
  if (!m_kitIndexed) {
    m_kitIndexed = true;
    for (const config::KitEntry& entry : *m_kitEntries) {
      std::string system;
      if (!to_system_path(normalised_kit_name(entry.name), system)) continue;
      m_kitIndex[system] = {entry.size, FileTimeToEpoch(entry.lastWriteTime)};
    }
  }
  const auto found = m_kitIndex.find(name);
  if (found == m_kitIndex.end()) return false;
  size = found->second.first;
  modified = found->second.second;
  return true;
}

void RunUndo::undo(const JournalRecord& record) {
  const bool check = record.hasIdentities;
  std::string relativeFolder;
  std::string leaf;
  split_relative(record.name, relativeFolder, leaf);
  if (record.kind == JournalKind::kCreatedDir && record.name.empty()) {
    m_madeCatalog = true;
    return;
  }
  if (record.kind != JournalKind::kAddedFile && record.kind != JournalKind::kReplacedFile &&
      record.kind != JournalKind::kBackedUp && record.kind != JournalKind::kCreatedDir) {
    return;
  }
  Status why;
  const Directory* parent = folder(relativeFolder, record.folder, check, why);
  // Named only in a note: a replay costs no memory per record.
  const auto path = [&] { return m_catalog.pathOf(wide(record.name)); };
  if (parent == nullptr) {
    // A folder that is gone took nothing of the user's with it; one that
    // is not the run's any more is left as it is.
    if (why.code != kErrorFileNotFound) {
      if (record.kind == JournalKind::kReplacedFile || record.kind == JournalKind::kBackedUp) {
        m_backupsLeft = true;
      }
      note(path() + u": left as it is: " + describe_status(why));
    }
    return;
  }
  uint64_t kitSize = 0;
  int64_t kitTime = 0;
  const bool standIn = !check && kitCopy(record.name, kitSize, kitTime);
  const auto placed = [&](const FileInfo& info) {
    if (info.kind != PathKind::kRegular) return false;
    if (check) return file_identity_of(info) == record.placed;
    return standIn && info.size == kitSize && info.modified == kitTime;
  };
  const auto never = [](const FileInfo&) { return false; };
  switch (record.kind) {
    case JournalKind::kAddedFile: {
      const Taken taken = takeAway(*parent, leaf, placed);
      if (taken == Taken::kTaken) m_cached->changed = true;
      if (taken == Taken::kNotOurs) {
        note(path() + u": kept, it is not the file the run placed there (changed or saved since)");
      }
      return;
    }
    case JournalKind::kReplacedFile: {
      FileInfo here;
      // The original, never moved: nothing of this record happened.
      if (parent->info(SystemName{leaf}, FollowLinks::kNo, here).ok() &&
          here.kind != PathKind::kMissing && file_identity_of(here) == record.original) {
        return;
      }
      if (takeAway(*parent, leaf, placed) == Taken::kTaken) m_cached->changed = true;
      restore(*parent, record.name, leaf, &record.original, never);
      return;
    }
    case JournalKind::kBackedUp:
      restore(*parent, record.name, leaf, &record.original, never);
      return;
    case JournalKind::kCreatedDir: {
      FileInfo info;
      if (!parent->info(SystemName{leaf}, FollowLinks::kNo, info).ok() ||
          info.kind != PathKind::kDirectory) {
        return;
      }
      if (check && (info.device != record.placed.device || info.inode != record.placed.inode)) {
        return;  // made again by someone else since: theirs
      }
      const Status removed = parent->removeDirectory(SystemName{leaf});
      if (removed.ok()) {
        m_cached->changed = true;
      } else if (removed.systemError == ENOTEMPTY || removed.systemError == EEXIST) {
        ++m_foldersLeft;
        if (check) note(path() + u"/: kept, it holds files saved there after the run");
      }
      return;
    }
    default: return;
  }
}

void RunUndo::removeEmptied(const JournalRecord& record) {
  if (record.kind != JournalKind::kFolderToRemove || record.name.empty()) return;
  std::string relativeFolder;
  std::string leaf;
  split_relative(record.name, relativeFolder, leaf);
  Status why;
  const Directory* parent = folder(relativeFolder, record.folder, record.hasIdentities, why);
  FileInfo info;
  if (parent == nullptr || !parent->info(SystemName{leaf}, FollowLinks::kNo, info).ok() ||
      info.kind != PathKind::kDirectory) {
    return;
  }
  if (record.hasIdentities &&
      (info.device != record.placed.device || info.inode != record.placed.inode)) {
    return;
  }
  if (parent->removeDirectory(SystemName{leaf}).ok()) {
    m_cached->changed = true;
    ++m_foldersRemoved;
  }
}

void RunUndo::restoreUnrecordedBackups() {
  const Directory* backupRoot = nullptr;
  if (!m_state.backup(backupRoot).ok()) return;
  restoreTree(*backupRoot, std::string());
}

void RunUndo::restoreTree(const Directory& backup, const std::string& relative) {
  std::vector<DirectoryEntry> entries;
  if (!backup.list(entries).ok()) {
    m_backupsLeft = true;
    return;
  }
  for (const DirectoryEntry& entry : entries) {
    std::string name;
    if (!to_system_path(entry.name, name)) continue;
    const std::string below = relative.empty() ? name : relative + "/" + name;
    if (entry.isDirectory) {
      Directory inner;
      if (backup.openDirectory(SystemName{name}, FollowLinks::kNo, inner).ok()) {
        restoreTree(inner, below);
      }
      continue;
    }
    Status why;
    const Directory* parent = folder(relative, FolderIdentity(), false, why);
    if (parent == nullptr) {
      m_backupsLeft = true;
      note(m_catalog.pathOf(wide(below)) + u": the copy the run had replaced could not be put "
                                           u"back: " + describe_status(why));
      continue;
    }
    uint64_t kitSize = 0;
    int64_t kitTime = 0;
    const bool standIn = kitCopy(below, kitSize, kitTime);
    // Only the kit's own copy, which the dead run placed, is replaced.
    const auto kitsOwn = [&](const FileInfo& info) {
      return standIn && info.kind == PathKind::kRegular && info.size == kitSize &&
             info.modified == kitTime;
    };
    restore(*parent, below, name, nullptr, kitsOwn);
  }
}

void RunUndo::sweepLegacyTemporaries() { sweep(m_catalog); }

void RunUndo::sweep(const Directory& folder) {
  std::vector<DirectoryEntry> entries;
  if (!folder.list(entries).ok()) return;
  for (const DirectoryEntry& entry : entries) {
    std::string name;
    if (!to_system_path(entry.name, name) || name == kRunStateFolderSystemName) continue;
    if (entry.isDirectory) {
      Directory below;
      if (folder.openDirectory(SystemName{name}, FollowLinks::kNo, below).ok()) sweep(below);
      continue;
    }
    if (!is_hidden_temporary_name(name)) continue;
    const auto mine = [](const FileInfo& info) {
      return info.kind == PathKind::kRegular && info.owner == ::geteuid();
    };
    takeAway(folder, name, mine);
  }
}
