#include "install/placement_batch.h"

#include <algorithm>

#include "install/run_hooks.h"
#include "platform/batch_sync.h"

void PlacementBatch::setDescriptorBudget(size_t descriptors) {
  const size_t budget = std::max<size_t>(descriptors, 2);
  // Half for staged files kept open, half for the folders they go to.
  m_keptOpen = std::max<size_t>(1, std::min(kKeptOpen, budget / 2));
  m_folderBudget = std::max<size_t>(1, budget - m_keptOpen);
}

Status PlacementBatch::add(StagedFile staged, PlacementTarget target, uint64_t size,
                           unsigned long percent, bool isNew, bool ownCopy, InstallStats& stats,
                           bool& groupFull) {
  if (m_pending.size() >= m_keptOpen) {
    const Status closed = close_staged(staged);
    if (!closed.ok()) {
      discard_staged(staged);
      return closed;
    }
  }
  if (m_pending.empty() || m_pending.back().target.folder != target.folder) ++m_folders;
  const Mode mode = ownCopy ? Mode::kOwnCopy : isNew ? Mode::kNew : Mode::kReplace;
  m_pending.push_back(Pending{std::move(staged), std::move(target), size, percent, mode, {}});
  ++(isNew ? stats.filesNew : stats.filesReplaced);
  stats.bytesWritten += size;
  m_bytes += size;
  groupFull = m_pending.size() >= kMaxFiles || m_bytes >= kMaxBytes || m_folders >= m_folderBudget;
  return Status();
}

void PlacementBatch::recount(Pending& pending, Mode mode, InstallStats& stats) {
  const bool wasNew = pending.mode == Mode::kNew;
  const bool isNew = mode == Mode::kNew;
  if (wasNew != isNew && pending.mode != Mode::kOwnCopy) {
    --(wasNew ? stats.filesNew : stats.filesReplaced);
    ++(isNew ? stats.filesNew : stats.filesReplaced);
  }
  pending.mode = mode;
}

Status PlacementBatch::syncData(size_t& failed) {
  // The syncs of a chunk of files go to the kernel together: the disk's
  // waits overlap instead of adding up.
  for (size_t first = 0; first < m_pending.size(); first += m_keptOpen) {
    const size_t end = std::min(m_pending.size(), first + m_keptOpen);
    std::vector<int> descriptors;
    for (failed = first; failed < end; ++failed) {
      const Status status = open_staged(m_pending[failed].staged);
      if (!status.ok()) return status;
      descriptors.push_back(m_pending[failed].staged.file.descriptor());
    }
    std::vector<int> errors;
    sync_descriptors(descriptors, errors);
    for (failed = first; failed < end; ++failed) {
      const int err = errors[failed - first];
      if (err != 0) return status_of_errno(err, m_pending[failed].staged.destination);
      m_pending[failed].staged.file = File();
    }
  }
  return Status();
}

Status PlacementBatch::backUpReplaced(InstallStats& stats, size_t& failed) {
  for (failed = 0; failed < m_pending.size(); ++failed) {
    Pending& pending = m_pending[failed];
    const PlacementTarget& target = pending.target;
    if (pending.mode == Mode::kReplace) {
      FileInfo here;
      const Status looked = target.folder->info(target.leaf, FollowLinks::kNo, here);
      if (!looked.ok()) return looked;
      if (here.kind == PathKind::kMissing) {
        recount(pending, Mode::kNew, stats);
      } else {
        pending.original = file_identity_of(here);
      }
    }
    if (pending.mode == Mode::kReplace) {
      m_rollback.recordReplaced(target.folderIdentity, target.name, pending.staged.identity,
                                pending.original);
    } else {
      m_rollback.recordAdded(target.folderIdentity, target.name, pending.staged.identity);
    }
  }
  failed = 0;
  Status status = m_rollback.syncJournal();
  if (!status.ok()) return status;
  run_hook(RunPoint::kGroupJournaled);
  bool moved = false;
  for (failed = 0; failed < m_pending.size(); ++failed) {
    Pending& pending = m_pending[failed];
    if (pending.mode != Mode::kReplace) continue;
    const PlacementTarget& target = pending.target;
    status = m_rollback.moveToBackup(*target.folder, target.name, target.leaf, pending.original);
    // Gone since the look: nothing to keep, the entry is new.
    if (status.code == kErrorFileNotFound) {
      recount(pending, Mode::kNew, stats);
      continue;
    }
    if (!status.ok()) return status;
    moved = true;
  }
  failed = 0;
  if (!moved) return Status();
  // A replaced file's old name may go only once its backup name stands:
  // both folders of each move are on disk before the new copies take the
  // names.
  status = m_rollback.syncBackups();
  if (status.ok()) status = syncFolders(true);
  return status;
}

Status PlacementBatch::backUpAppeared(Pending& pending, InstallStats& stats) {
  const PlacementTarget& target = pending.target;
  FileInfo here;
  Status status = target.folder->info(target.leaf, FollowLinks::kNo, here);
  if (!status.ok()) return status;
  if (here.kind == PathKind::kMissing) return Status();
  recount(pending, Mode::kReplace, stats);
  pending.original = file_identity_of(here);
  m_rollback.recordReplaced(target.folderIdentity, target.name, pending.staged.identity,
                            pending.original);
  status = m_rollback.syncJournal();
  if (status.ok()) {
    status = m_rollback.moveToBackup(*target.folder, target.name, target.leaf, pending.original);
  }
  if (status.code == kErrorFileNotFound) return Status();
  if (status.ok()) status = m_rollback.syncBackups();
  if (status.ok()) status = target.folder->sync();
  return status;
}

Status PlacementBatch::syncFolders(bool sourcesToo) {
  std::vector<int> descriptors;
  std::vector<const Directory*> folders;
  for (const Pending& pending : m_pending) {
    if (!sourcesToo || pending.mode == Mode::kReplace) {
      const Directory* folder = pending.target.folder.get();
      if (folders.empty() || folders.back() != folder) {
        if (std::find(folders.begin(), folders.end(), folder) != folders.end()) continue;
        folders.push_back(folder);
        descriptors.push_back(folder->descriptor());
      }
    }
  }
  std::vector<int> errors;
  sync_descriptors(descriptors, errors);
  for (size_t i = 0; i < errors.size(); ++i) {
    if (errors[i] != 0) return status_of_errno(errors[i], folders[i]->path());
  }
  return Status();
}

Status PlacementBatch::flush(InstallStats& stats, unsigned long& percent) {
  // A run with nothing to write never started its journal.
  if (m_pending.empty()) return Status();
  size_t failed = 0;
  Status status = syncData(failed);
  if (status.ok()) status = backUpReplaced(stats, failed);
  for (size_t i = 0; i < m_pending.size(); ++i) {
    Pending& pending = m_pending[i];
    if (status.ok()) {
      failed = i;
      const PlacementTarget& target = pending.target;
      const bool noReplace = pending.mode != Mode::kOwnCopy;
      status = put_in_place(pending.staged, *target.folder, target.leaf, noReplace);
      if (status.code == kErrorAlreadyExists && pending.mode == Mode::kNew) {
        status = backUpAppeared(pending, stats);
        if (status.ok()) status = put_in_place(pending.staged, *target.folder, target.leaf, true);
      }
      if (status.code == kErrorAlreadyExists) {
        status.note = u"something took its place while the run was writing it";
      }
    }
    if (!status.ok()) discard_staged(pending.staged);
  }
  if (status.ok()) {
    // The names the group gave are on disk before the group is done.
    status = syncFolders(false);
    failed = 0;
  }
  if (!status.ok() && failed < m_pending.size()) percent = m_pending[failed].percent;
  m_pending.clear();
  m_bytes = 0;
  m_folders = 0;
  return status;
}

void PlacementBatch::discard() {
  for (Pending& pending : m_pending) discard_staged(pending.staged);
  m_pending.clear();
  m_bytes = 0;
  m_folders = 0;
}
