#include "install/placement_batch.h"

#include <algorithm>

#include "platform/batch_sync.h"
#include "platform/path_status.h"

namespace {

wstring folder_of(const wstring& path) { return path.substr(0, path.rfind(kPathSeparatorChar) + 1); }

}  // namespace

Status PlacementBatch::add(StagedFile staged, const wstring& destination, uint64_t size,
                           unsigned long percent, bool isNew, bool ownCopy, InstallStats& stats,
                           bool& groupFull) {
  if (m_pending.size() >= kKeptOpen) {
    const Status closed = close_staged(staged);
    if (!closed.ok()) {
      discard_staged(staged);
      return closed;
    }
  }
  m_pending.push_back(Pending{std::move(staged), destination, size, percent, isNew, ownCopy});
  ++(isNew ? stats.filesNew : stats.filesReplaced);
  stats.bytesWritten += size;
  m_bytes += size;
  groupFull = m_pending.size() >= kMaxFiles || m_bytes >= kMaxBytes;
  return Status();
}

Status PlacementBatch::syncData(size_t& failed) {
  // The syncs of a chunk of files go to the kernel together: the disk's
  // waits overlap instead of adding up.
  for (size_t first = 0; first < m_pending.size(); first += kKeptOpen) {
    const size_t end = std::min(m_pending.size(), first + kKeptOpen);
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
      if (err != 0) return status_of_errno(err, m_pending[failed].destination);
      m_pending[failed].staged.file = File();
    }
  }
  return Status();
}

Status PlacementBatch::backUpReplaced(InstallStats& stats, size_t& failed) {
  std::set<wstring> folders;
  for (failed = 0; failed < m_pending.size(); ++failed) {
    Pending& pending = m_pending[failed];
    // Something that appeared since the plan is backed up all the same.
    const bool standing =
        !pending.isNew || path_kind(pending.destination, false) != PathKind::kMissing;
    if (!pending.ownCopy && standing) {
      const Status stored = m_rollback.storeBackup(pending.destination);
      const bool isNew = stored.code == kErrorFileNotFound || stored.code == kErrorPathNotFound;
      if (!isNew && !stored.ok()) return stored;
      if (!isNew) folders.insert(folder_of(pending.destination));
      if (isNew != pending.isNew) {
        --(pending.isNew ? stats.filesNew : stats.filesReplaced);
        ++(isNew ? stats.filesNew : stats.filesReplaced);
        pending.isNew = isNew;
      }
    }
    if (pending.isNew) {
      const Status journaled = m_rollback.recordAddedFile(pending.destination);
      if (!journaled.ok()) return journaled;
    }
  }
  failed = 0;
  Status status = m_rollback.syncJournal();
  if (!status.ok()) return status;
  // A replaced file's old name may go only once its backup name stands:
  // both folders of each move are synced before the new copies take the
  // names.
  const RollbackRecord& record = m_rollback.records().back();
  std::set<wstring> moved = folders;
  for (const wstring& folder : folders) {
    moved.insert(record.backupDir + folder.substr(record.targetDir.size()));
  }
  return sync_folders(moved);
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
      status = put_in_place(pending.staged);
      failed = i;
    }
    if (!status.ok()) {
      discard_staged(pending.staged);
      continue;
    }
    m_rollback.noteChangedFolder(folder_of(pending.destination));
  }
  if (!status.ok() && failed < m_pending.size()) percent = m_pending[failed].percent;
  m_pending.clear();
  m_bytes = 0;
  return status;
}

void PlacementBatch::discard() {
  for (Pending& pending : m_pending) discard_staged(pending.staged);
  m_pending.clear();
  m_bytes = 0;
}
