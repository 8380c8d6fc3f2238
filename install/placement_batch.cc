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
  // Two groups, one syncing while the other is staged, when each can still
  // be of a useful size; else one. Each holds its files open and the
  // folders they go to; the folders a placed group gave names to wait for
  // the next group's syncs as well.
  m_overlap = budget * 7 / 20 >= kMinOverlapGroup;
  m_folderBudget = std::max<size_t>(1, budget / (m_overlap ? 10 : 4));
  const size_t files = budget - std::min(budget, m_folderBudget * (m_overlap ? 3 : 1));
  m_keptOpen = std::max<size_t>(1, std::min(kMaxFiles, m_overlap ? files / 2 : files));
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
  failed = 0;
  for (size_t i = 0; i < errors.size(); ++i) {
    if (errors[i] == 0 || !status.ok()) continue;
    // The group's files first, then the journal and the folders.
    status = i < group.size() ? status_of_errno(errors[i], group[i].staged.destination)
                              : status_of_errno(errors[i], m_pathsInFlight[i - group.size()]);
    failed = std::min(i, group.size() - 1);
  }
  for (Pending& pending : group) pending.staged.file = File();
  m_pathsInFlight.clear();
  m_foldersInFlight.clear();
  if (status.ok()) m_rollback.journalSynced();
  return status;
}

Status PlacementBatch::backUpReplaced(Group& group, bool journaled, InstallStats& stats,
                                      size_t& failed) {
  bool appended = false;
  for (failed = 0; failed < group.size(); ++failed) {
    Pending& pending = group[failed];
    const PlacementTarget& target = pending.target;
    if (pending.mode == Mode::kReplace) {
      FileInfo here;
      const Status looked = target.folder->info(target.leaf, FollowLinks::kNo, here);
      if (!looked.ok()) return looked;
      if (here.kind == PathKind::kMissing) {
        recount(pending, Mode::kNew, stats);
        m_rollback.recordAdded(target.folderIdentity, target.name, pending.staged.identity);
      } else {
        pending.original = file_identity_of(here);
        m_rollback.recordReplaced(target.folderIdentity, target.name, pending.staged.identity,
                                  pending.original);
      }
      appended = true;
    } else if (!journaled) {
      m_rollback.recordAdded(target.folderIdentity, target.name, pending.staged.identity);
      appended = true;
    }
  }
  failed = 0;
  Status status = appended ? m_rollback.syncJournal() : Status();
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
  if (status.ok()) status = syncReplacedFolders(group);
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

Status PlacementBatch::syncReplacedFolders(const Group& group) {
  std::vector<int> descriptors;
  std::vector<const Directory*> folders;
  for (const Pending& pending : group) {
    const Directory* folder = pending.target.folder.get();
    if (pending.mode != Mode::kReplace ||
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
  if (status.ok()) status = backUpReplaced(group, syncsInFlight, stats, failed);
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
  if (!status.ok()) return status;
  // The names the group gave go to the disk with the next group's syncs,
  // or, one group at a time, now; in any case before the run commits.
  for (const Pending& pending : group) {
    if (std::find(m_unsyncedFolders.begin(), m_unsyncedFolders.end(), pending.target.folder) ==
        m_unsyncedFolders.end()) {
      m_unsyncedFolders.push_back(pending.target.folder);
    }
  }
  return syncsInFlight ? Status() : syncUnsyncedFolders();
}

Status PlacementBatch::syncUnsyncedFolders() {
  if (m_unsyncedFolders.empty()) return Status();
  std::vector<int> descriptors;
  for (const auto& folder : m_unsyncedFolders) descriptors.push_back(folder->descriptor());
  std::vector<int> errors;
  sync_descriptors(descriptors, errors);
  for (size_t i = 0; i < errors.size(); ++i) {
    if (errors[i] != 0) return status_of_errno(errors[i], m_unsyncedFolders[i]->path());
  }
  m_unsyncedFolders.clear();
  return Status();
}

Status PlacementBatch::submit(Group& group, size_t& failed) {
  // Every file of the group is still open (the group is no larger than
  // that): their syncs go to the disk now, with the records of the files
  // it adds and the names the group before gave, and are waited for at the
  // next flush, while the next group is staged.
  std::vector<int> descriptors;
  Status status;
  for (failed = 0; failed < group.size(); ++failed) {
    Pending& pending = group[failed];
    status = open_staged(pending.staged);
    if (!status.ok()) return status;
    descriptors.push_back(pending.staged.file.descriptor());
    if (pending.mode != Mode::kReplace) {
      m_rollback.recordAdded(pending.target.folderIdentity, pending.target.name,
                             pending.staged.identity);
    }
  }
  failed = 0;
  status = m_rollback.journalDescriptors(descriptors, m_pathsInFlight);
  if (!status.ok()) return status;
  for (auto& folder : m_unsyncedFolders) {
    descriptors.push_back(folder->descriptor());
    m_pathsInFlight.push_back(folder->path());
  }
  m_foldersInFlight.swap(m_unsyncedFolders);
  m_unsyncedFolders.clear();
  m_syncs.submit(descriptors);
  return Status();
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
    status = m_overlap ? submit(m_pending, failed) : putInPlace(m_pending, false, stats, failed);
    if (status.ok() && m_overlap) {
      m_syncing.swap(m_pending);
    } else if (!status.ok()) {
      failing = &m_pending;
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
  if (status.ok()) status = syncUnsyncedFolders();
  return status;
}

void PlacementBatch::discard(Group& group) {
  for (Pending& pending : group) discard_staged(pending.staged);
  group.clear();
}

void PlacementBatch::discard() {
  // The syncs in flight hold the files' and folders' descriptors: answered
  // first.
  std::vector<int> ignored;
  m_syncs.wait(ignored);
  m_pathsInFlight.clear();
  m_foldersInFlight.clear();
  m_unsyncedFolders.clear();
  discard(m_syncing);
  discard(m_pending);
  m_bytes = 0;
  m_folders = 0;
}
