#include "install/run_journal.h"

#include <fcntl.h>

#include "install/run_state.h"

namespace {
constexpr unsigned kJournalMode = 0600;
const SystemName kJournalName{kRunJournalName};
}  // namespace

Status RunJournal::create(const Directory& stateFolder) {
  File file;
  Status status = stateFolder.openFile(
      kJournalName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND, kJournalMode, file);
  if (!status.ok()) return status;
  // Fresh and private: nobody else can hold the lock yet.
  status = file.lock(LockMode::kExclusive, LockWait::kNo);
  if (!status.ok()) return status;
  m_file = std::move(file);
  m_pending = journal_version_record();
  return Status();
}

Status RunJournal::openForReplay(const Directory& stateFolder, File& out) {
  out = File();
  File file;
  Status status =
      stateFolder.openFile(kJournalName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, file);
  if (!status.ok()) return status;
  FileInfo info;
  status = file.info(info);
  if (!status.ok()) return status;
  if (info.kind != PathKind::kRegular) {
    status = error_status(kErrorInvalidData, file.path());
    status.note = u"not a regular file";
    return status;
  }
  status = file.lock(LockMode::kExclusive, LockWait::kNo);
  if (!status.ok()) return status;
  out = std::move(file);
  return Status();
}

void RunJournal::append(const JournalRecord& record) {
  if (m_file.isOpen()) m_pending += encode_journal_record(record);
}

Status RunJournal::writePending() {
  if (!m_file.isOpen() || m_pending.empty()) return Status();
  const Status status = m_file.writeAll(m_pending.data(), m_pending.size());
  if (status.ok()) {
    m_written += m_pending.size();
  } else {
    // Part of a record must not stay before the records a later write
    // adds: the journal is cut back to its last whole record.
    m_file.truncate(m_written);
  }
  m_pending.clear();
  return status;
}

Status RunJournal::sync() {
  if (!m_file.isOpen()) return Status();
  Status status = writePending();
  if (status.ok()) status = m_file.dataSync();
  return status;
}
