#include "install/run_journal.h"

#include <fcntl.h>

#include <cstdlib>
#include <string>

#include "install/run_state.h"
#include "platform/system_path.h"

namespace {
constexpr unsigned kJournalMode = 0600;
constexpr char kFormatVersion[] = "2";
// Longest decimal length field a record may carry.
constexpr size_t kMaxLengthDigits = 11;
}  // namespace

Status RunJournal::create(const Directory& stateFolder) {
  File file;
  Status status = stateFolder.openFile(
      kRunJournalName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND, kJournalMode, file);
  if (!status.ok()) return status;
  // Fresh and private: nobody else can hold the lock yet.
  status = file.lock(LockMode::kExclusive, LockWait::kNo);
  if (!status.ok()) return status;
  m_file = std::move(file);
  return append(JournalKind::kVersion, from_system_path(kFormatVersion));
}

Status RunJournal::append(JournalKind kind, const wstring& relative) {
  if (!m_file.isOpen()) return Status();
  std::string bytes;
  if (!to_system_path(relative, bytes)) return error_status(kErrorInvalidName, relative);
  std::string record(1, static_cast<char>(kind));
  record += std::to_string(bytes.size());
  record += ':';
  record += bytes;
  record += '\n';
  m_pending += record;
  return Status();
}

Status RunJournal::sync() {
  if (!m_file.isOpen()) return Status();
  Status status = m_file.writeAll(m_pending.data(), m_pending.size());
  m_pending.clear();
  if (status.ok()) status = m_file.dataSync();
  return status;
}

void RunJournal::read(const File& file, JournalContents& contents) {
  contents = JournalContents();
  std::string data;
  if (!file.readAll(data).ok()) return;
  size_t position = 0;
  while (position < data.size()) {
    const char kind = data[position];
    const size_t colon = data.find(':', position + 1);
    if (colon == std::string::npos || colon == position + 1 ||
        colon - position > kMaxLengthDigits + 1) {
      break;
    }
    const std::string digits = data.substr(position + 1, colon - position - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) break;
    const size_t length = std::strtoul(digits.c_str(), nullptr, 10);
    if (length > data.size() - colon - 1 || colon + 1 + length >= data.size() ||
        data[colon + 1 + length] != '\n') {
      break;  // cut short by a crash
    }
    const std::string field = data.substr(colon + 1, length);
    position = colon + 2 + length;
    if (!contents.readable) {
      // Anything but this version's first record is not a journal it can
      // follow: the backups alone then say what to restore.
      if (static_cast<JournalKind>(kind) != JournalKind::kVersion || field != kFormatVersion) break;
      contents.readable = true;
      continue;
    }
    const wstring path = from_system_path(field);
    switch (static_cast<JournalKind>(kind)) {
      case JournalKind::kCreatedDir: contents.createdDirs.push_back(path); break;
      case JournalKind::kAddedFile: contents.addedFiles.push_back(path); break;
      case JournalKind::kFolderToRemove: contents.foldersToRemove.push_back(path); break;
      case JournalKind::kCommitted: contents.committed = true; break;
      default: break;
    }
  }
}
