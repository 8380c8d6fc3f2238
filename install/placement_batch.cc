#include "install/placement_batch.h"

#include <algorithm>

#include "install/run_hooks.h"
#include "platform/batch_sync.h"

namespace {
// The smallest group worth syncing while the next is staged.
constexpr size_t kMinOverlapGroup = 16;
}  // namespace

void PlacementBatch::setDescriptorBudget(size_t descriptors) {
  const size_t budget = std::max<size_t>(descriptors, 2);
  // Each group holds its files open and the folders they go to: a quarter
  // of its share for the folders. Two groups, one syncing while the other
  // is staged, when each can still be of a useful size; else one.
  m_overlap = budget * 3 / 8 >= kMinOverlapGroup;
  const size_t share = m_overlap ? budget / 2 : budget;
  m_folderBudget = std::max<size_t>(1, share / 4);
  m_keptOpen = std::max<size_t>(1, std::min(kMaxFiles, share - std::min(share, m_folderBudget)));
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
  // With two groups in flight, a group is no larger than the files it may
  // keep open: they all stay open until their syncs answer.
  const size_t files = m_overlap ? m_keptOpen : kMaxFiles;
  groupFull = m_pending.size() >= files || m_bytes >= kMaxBytes || m_folders >= m_folderBudget;
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

Status PlacementBatch::syncData(Group& group, size_t& failed) {
  // The syncs of a turn of files go to the kernel together: the disk's
  // waits overlap instead of adding up.
  for (size_t first = 0; first < group.size(); first += m_keptOpen) {
    const size_t end = std::min(group.size(), first + m_keptOpen);
    std::vector<int> descriptors;
    for (failed = first; failed < end; ++failed) {
      const Status status = open_staged(group[failed].staged);
      if (!status.ok()) return status;
      descriptors.push_back(group[failed].staged.file.descriptor());
    }
    std::vector<int> errors;
    sync_descriptors(descriptors, errors);
    for (failed = first; failed < end; ++failed) {
      const int err = errors[failed - first];
      if (err != 0) return status_of_errno(err, group[failed].staged.destination);
      group[failed].staged.file = File();
    }
  }
  return Status();
}

Status PlacementBatch::awaitData(Group& group, size_t& failed) {
  std::vector<int> errors;
  m_syncs.wait(errors);
  Status status;
  size_t first = 0;
  for (size_t i = 0; i < group.size(); ++i) {
    const int err = i < errors.size() ? errors[i] : 0;
    if (err != 0 && status.ok()) {
      status = status_of_errno(err, group[i].staged.destination);
      first = i;
    }
    group[i].staged.file = File();
  }
  failed = first;
  return status;
}

Status PlacementBatch::backUpReplaced(Group& group, InstallStats& stats, size_t& failed) {
  for (failed = 0; failed < group.size(); ++failed) {
    Pending& pending = group[failed];
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
  for (failed = 0; failed < group.size(); ++failed) {
    Pending& pending = group[failed];
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
  if (status.ok()) status = syncFolders(group, true);
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

Status PlacementBatch::syncFolders(const Group& group, bool sourcesOnly) {
  std::vector<int> descriptors;
  std::vector<const Directory*> folders;
  for (const Pending& pending : group) {
    const Directory* folder = pending.target.folder.get();
    if ((sourcesOnly && pending.mode != Mode::kReplace) ||
        std::find(folders.begin(), folders.end(), folder) != folders.end()) {
      continue;
    }
    folders.push_back(folder);
    descriptors.push_back(folder->descriptor());
  }
  std::vector<int> errors;
  sync_descriptors(descriptors, errors);
  for (size_t i = 0; i < errors.size(); ++i) {
    if (errors[i] != 0) return status_of_errno(errors[i], folders[i]->path());
  }
  return Status();
}

Status PlacementBatch::putInPlace(Group& group, bool syncsInFlight, InstallStats& stats,
                                  size_t& failed) {
  failed = 0;
  Status status = syncsInFlight ? awaitData(group, failed) : syncData(group, failed);
  if (status.ok()) status = backUpReplaced(group, stats, failed);
  for (size_t i = 0; i < group.size(); ++i) {
    Pending& pending = group[i];
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
  // The names the group gave are on disk before the group is done.
  if (status.ok()) status = syncFolders(group, false);
  return status;
}

Status PlacementBatch::flush(InstallStats& stats, unsigned long& percent) {
  size_t failed = 0;
  Status status;
  Group* failing = nullptr;
  if (!m_syncing.empty()) {
    status = putInPlace(m_syncing, true, stats, failed);
    if (status.ok()) {
      m_syncing.clear();
    } else {
      failing = &m_syncing;
    }
  }
  if (status.ok() && !m_pending.empty()) {
    if (m_overlap) {
      // Every file of the group is still open (the group is no larger
      // than that): their syncs go to the disk now, and are waited for at
      // the next flush, while the next group is staged.
      std::vector<int> descriptors;
      for (failed = 0; failed < m_pending.size() && status.ok(); ++failed) {
        status = open_staged(m_pending[failed].staged);
        descriptors.push_back(m_pending[failed].staged.file.descriptor());
      }
      if (status.ok()) {
        m_syncs.submit(descriptors);
        m_syncing.swap(m_pending);
      } else {
        --failed;
        failing = &m_pending;
      }
    } else {
      status = putInPlace(m_pending, false, stats, failed);
      if (!status.ok()) failing = &m_pending;
    }
  }
  if (failing != nullptr && failed < failing->size()) percent = (*failing)[failed].percent;
  if (!status.ok()) discard();
  m_pending.clear();
  m_bytes = 0;
  m_folders = 0;
  return status;
}

Status PlacementBatch::finish(InstallStats& stats, unsigned long& percent) {
  Status status = flush(stats, percent);
  if (status.ok()) status = flush(stats, percent);
  return status;
}

void PlacementBatch::discard(Group& group) {
  for (Pending& pending : group) discard_staged(pending.staged);
  group.clear();
}

void PlacementBatch::discard() {
  // The syncs in flight hold the files' descriptors: answered first.
  std::vector<int> ignored;
  m_syncs.wait(ignored);
  discard(m_syncing);
  discard(m_pending);
  m_bytes = 0;
  m_folders = 0;
}
