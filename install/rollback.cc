#include "install/rollback.h"

#include <set>

#include "install/journal_replay.h"
#include "install/run_state.h"
#include "platform/batch_sync.h"
#include "platform/beneath_open.h"
#include "platform/descriptor_budget.h"
#include "platform/system_path.h"

namespace {

// Folders of the backup tree synced with one call at most.
constexpr size_t kSyncChunk = 256;
// Descriptors left to the rest of the run while backup folders are synced.
constexpr size_t kSyncReserve = 8;

// The backup tree's folder for the catalog folder `relative`, below the
// state folder.
std::string backup_path(const std::string& relative) {
  return relative.empty() ? std::string(kRunBackupFolderName)
                          : std::string(kRunBackupFolderName) + "/" + relative;
}

// A folder's identity where a record holds it (device and inode only).
FileIdentity folder_as_file(const FolderIdentity& folder) {
  FileIdentity identity;
  identity.device = folder.device;
  identity.inode = folder.inode;
  return identity;
}

// The relative path of the folder above `relative` ("" at the top).
std::string parent_of(const std::string& relative) {
  const size_t slash = relative.rfind('/');
  return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

}  // namespace

Rollback::Rollback() = default;
Rollback::~Rollback() = default;

unsigned Rollback::start(const wstring& targetDir) {
  const Status status = Directory::open(targetDir, m_ownCatalog);
  if (!status.ok()) return status.code;
  return startRun(m_ownCatalog).code;
}

Status Rollback::startRun(const Directory& catalog) {
  m_catalog = &catalog;
  m_restoreFailed = false;
  m_aside.clear();
  m_notes.clear();
  Status status = StateFolder::make(catalog, m_state);
  if (!status.ok()) return status;
  status = m_journal.create(m_state.folder());
  m_stateDurable = false;
  if (status.ok()) status = m_state.stage(m_stage);
  if (!status.ok()) {
    m_journal.close();
    m_state.remove(catalog);
    return status;
  }
  return Status();
}

void Rollback::noteMadeCatalog(const wstring& parent, const SystemName& name) {
  m_catalogParent = parent;
  m_catalogName = name;
  Directory above;
  FileInfo parentInfo;
  FileInfo made;
  if (Directory::open(parent, above).ok()) above.info(parentInfo);
  if (m_catalog != nullptr) m_catalog->info(made);
  append(JournalKind::kCreatedDir, folder_identity_of(parentInfo), std::string(),
         folder_as_file(folder_identity_of(made)), FileIdentity());
}

Status Rollback::syncJournal() {
  if (m_stateDurable) return m_journal.sync();
  std::vector<int> descriptors;
  std::vector<wstring> paths;
  Status status = journalDescriptors(descriptors, paths);
  if (!status.ok()) return status;
  std::vector<int> errors;
  sync_descriptors(descriptors, errors);
  for (size_t i = 0; i < errors.size(); ++i) {
    if (errors[i] != 0) return status_of_errno(errors[i], paths[i]);
  }
  journalSynced();
  return Status();
}

Status Rollback::journalDescriptors(std::vector<int>& descriptors, std::vector<wstring>& paths) {
  const Status status = m_journal.writePending();
  if (!status.ok()) return status;
  descriptors.push_back(m_journal.file().descriptor());
  paths.push_back(m_journal.file().path());
  if (!m_stateDurable) {
    // The first time, the journal's name and the folder's own name too, so
    // that a later run finds what the records say.
    descriptors.push_back(m_state.folder().descriptor());
    paths.push_back(m_state.path());
    descriptors.push_back(m_catalog->descriptor());
    paths.push_back(m_catalog->path());
  }
  return Status();
}

void Rollback::append(JournalKind kind, const FolderIdentity& folder, const std::string& name,
                      const FileIdentity& placed, const FileIdentity& original) {
  JournalRecord record;
  record.kind = kind;
  record.name = name;
  record.folder = folder;
  record.placed = placed;
  record.original = original;
  m_journal.append(record);
}

Status Rollback::recordCreatedDir(const Directory& parent, const std::string& name) {
  std::string folder;
  std::string leaf;
  split_relative(name, folder, leaf);
  FileInfo above;
  FileInfo made;
  Status status = parent.info(above);
  if (status.ok()) status = parent.info(SystemName{leaf}, FollowLinks::kNo, made);
  if (!status.ok()) return status;
  append(JournalKind::kCreatedDir, folder_identity_of(above), name,
         folder_as_file(folder_identity_of(made)), FileIdentity());
  return Status();
}

void Rollback::recordAdded(const FolderIdentity& folder, const std::string& name,
                           const FileIdentity& placed) {
  append(JournalKind::kAddedFile, folder, name, placed, FileIdentity());
}

void Rollback::recordReplaced(const FolderIdentity& folder, const std::string& name,
                              const FileIdentity& placed, const FileIdentity& original) {
  append(JournalKind::kReplacedFile, folder, name, placed, original);
}

void Rollback::recordBackedUp(const FolderIdentity& folder, const std::string& name,
                              const FileIdentity& original) {
  append(JournalKind::kBackedUp, folder, name, FileIdentity(), original);
}

void Rollback::recordFolderToRemove(const FolderIdentity& folder, const std::string& name,
                                    const FolderIdentity& self) {
  append(JournalKind::kFolderToRemove, folder, name, folder_as_file(self), FileIdentity());
  m_hasFoldersToRemove = true;
}

Status Rollback::backupFolder(const std::string& relativeFolder, const Directory*& out) {
  out = nullptr;
  if (m_lastBackup.isOpen() && m_lastBackupName == relativeFolder) {
    out = &m_lastBackup;
    return Status();
  }
  // Only the folder in use stays open: a run may touch many, and may be
  // short of descriptors. Reached from the state folder itself, with no
  // descriptor of the backup tree's root kept.
  m_lastBackup = Directory();
  const Directory& state = m_state.folder();
  // Each level is made once: the set remembers what stands.
  size_t start = 0;
  while (start < relativeFolder.size()) {
    size_t end = relativeFolder.find('/', start);
    if (end == std::string::npos) end = relativeFolder.size();
    const std::string level = relativeFolder.substr(0, end);
    start = end + 1;
    if (m_backupMade.count(level) != 0) continue;
    Directory above;
    Status status = open_beneath(state, backup_path(parent_of(level)), above);
    if (status.ok()) {
      status = above.makeDirectory(SystemName{level.substr(level.rfind('/') + 1)}, kRunStateMode);
      if (status.code == kErrorAlreadyExists) status = Status();
    }
    if (!status.ok()) return status;
    m_backupMade.insert(level);
    // Its entry in the folder above must be durable too.
    m_backupChanged.insert(parent_of(level));
  }
  const Status status = open_beneath(state, backup_path(relativeFolder), m_lastBackup);
  if (!status.ok()) return status;
  m_lastBackupName = relativeFolder;
  out = &m_lastBackup;
  return Status();
}

Status Rollback::moveToBackup(const Directory& folder, const std::string& name,
                              const SystemName& leaf, const FileIdentity& expected) {
  std::string relativeFolder;
  std::string ignored;
  split_relative(name, relativeFolder, ignored);
  const Directory* backup = nullptr;
  Status status = backupFolder(relativeFolder, backup);
  if (!status.ok()) return status;
  // The first copy kept under a name is never replaced.
  status = folder.renameNoReplace(leaf, *backup, leaf);
  if (!status.ok()) {
    status.path = folder.pathOf(leaf);
    return status;
  }
  m_backupChanged.insert(relativeFolder);
  FileInfo moved;
  if (backup->info(leaf, FollowLinks::kNo, moved).ok() && file_identity_of(moved) == expected) {
    return Status();
  }
  // Swapped in between the look and the move: not the file the run meant
  // to take. It goes back.
  Status back = backup->renameNoReplace(leaf, folder, leaf);
  if (!back.ok()) {
    // It stays in the backup tree, which a rollback then keeps: the
    // caller must stop.
    back.path = folder.pathOf(leaf);
    back.note = u"it changed while the run was taking it, and could not be put back; it is kept "
                u"in " + backup->pathOf(leaf);
    if (back.code == kErrorAlreadyExists) back.code = kErrorCantWrite;
    return back;
  }
  Status failure = error_status(kErrorAlreadyExists, folder.pathOf(leaf));
  failure.note = u"it changed while the run was taking it";
  return failure;
}

Status Rollback::syncBackups() {
  Status first;
  const size_t budget = spare_descriptors();
  const size_t chunk =
      budget > kSyncReserve + 1 ? std::min(kSyncChunk, budget - kSyncReserve) : 1;
  std::vector<Directory> opened;
  std::vector<int> descriptors;
  std::vector<int> errors;
  for (auto it = m_backupChanged.begin(); it != m_backupChanged.end();) {
    opened.clear();
    descriptors.clear();
    for (; it != m_backupChanged.end() && opened.size() < chunk; ++it) {
      Directory directory;
      const Status status = open_beneath(m_state.folder(), backup_path(*it), directory);
      if (!status.ok()) {
        if (first.ok()) first = status;
        continue;
      }
      descriptors.push_back(directory.descriptor());
      opened.push_back(std::move(directory));
    }
    sync_descriptors(descriptors, errors);
    for (size_t i = 0; i < errors.size() && first.ok(); ++i) {
      if (errors[i] != 0) first = status_of_errno(errors[i], opened[i].path());
    }
  }
  if (first.ok()) m_backupChanged.clear();
  return first;
}

Status Rollback::commit(unsigned long* foldersRemoved) {
  if (foldersRemoved != nullptr) *foldersRemoved = 0;
  if (!m_state.isOpen()) return Status();
  append(JournalKind::kCommitted, FolderIdentity(), std::string(), FileIdentity(), FileIdentity());
  Status status = syncJournal();
  if (!status.ok()) return status;
  // From here on the run stands: what follows only tidies, and a run
  // cut off meanwhile is tidied by the next.
  m_backupMade.clear();
  m_lastBackup = Directory();
  m_stage = nullptr;
  m_state.release();
  ReplayOutcome outcome;
  if (m_hasFoldersToRemove) {
    outcome = replay_journal(*m_catalog, m_state, m_journal.file(), nullptr);
    if (foldersRemoved != nullptr) *foldersRemoved = outcome.foldersRemoved;
  }
  m_journal.close();
  m_state.remove(*m_catalog);
  return Status();
}

unsigned Rollback::rollback(unsigned code) {
  m_restoreFailed = false;
  m_aside.clear();
  if (!m_state.isOpen()) return code;
  // Records appended but not yet synced may announce folders already
  // made: they are read back too.
  m_journal.writePending();
  m_backupMade.clear();
  m_lastBackup = Directory();
  m_stage = nullptr;
  m_state.release();
  ReplayOutcome outcome = replay_journal(*m_catalog, m_state, m_journal.file(), nullptr);
  m_journal.close();
  settle_state(*m_catalog, m_state, outcome, m_aside);
  m_restoreFailed = !m_aside.empty();
  m_notes.insert(m_notes.end(), outcome.notes.begin(), outcome.notes.end());
  Directory parent;
  if (outcome.madeCatalog && !m_restoreFailed && !m_catalogParent.empty() &&
      Directory::open(m_catalogParent, parent).ok()) {
    // Only while its name still leads to the catalog the run made, and
    // only when it is empty.
    FileInfo named;
    FileInfo made;
    if (parent.info(m_catalogName, FollowLinks::kNo, named).ok() && m_catalog->info(made).ok() &&
        named.sameFile(made) && parent.removeDirectory(m_catalogName).ok()) {
      parent.sync();
    }
  }
  return code;
}
