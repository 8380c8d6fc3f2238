#include "install/run_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_system.h"
#include "platform/text_encoding.h"

namespace {

bool write_all(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

unsigned code_of_errno(int err) {
  if (err == ENOSPC || err == EDQUOT) return 112;
  return setLastErrorByErrNo(err);
}

}  // namespace

RunJournal::~RunJournal() {
  if (m_fd >= 0) ::close(m_fd);
}

unsigned RunJournal::create(const wstring& backupDir, const wstring& catalog) {
  m_path = narrow_lib(backupDir) + kRunJournalName;
  const int fd = ::open(m_path.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return code_of_errno(errno);
  // Fresh and private: nobody else can hold the lock yet.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(m_path.c_str());
    return code_of_errno(err);
  }
  m_fd = fd;
  return append(JournalKind::kCatalog, catalog);
}

unsigned RunJournal::append(JournalKind kind, const wstring& path) {
  if (m_fd < 0) return kErrorSuccess;
  const std::string bytes = narrow_lib(path);
  std::string record(1, static_cast<char>(kind));
  record += std::to_string(bytes.size());
  record += ':';
  record += bytes;
  record += '\n';
  if (!write_all(m_fd, record)) return code_of_errno(errno);
  return kErrorSuccess;
}

void RunJournal::discard() {
  if (m_fd < 0) return;
  ::unlink(m_path.c_str());
  ::close(m_fd);
  m_fd = -1;
}

bool RunJournal::read(int fd, JournalContents& contents) {
  contents = JournalContents();
  std::string data;
  char chunk[65536];
  off_t offset = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, chunk, sizeof chunk, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(chunk, static_cast<size_t>(n));
    offset += n;
  }
  size_t position = 0;
  bool haveCatalog = false;
  while (position < data.size()) {
    const char kind = data[position];
    const size_t colon = data.find(':', position + 1);
    if (colon == std::string::npos || colon == position + 1 || colon - position > 12) break;
    const std::string digits = data.substr(position + 1, colon - position - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) break;
    const size_t length = std::strtoul(digits.c_str(), nullptr, 10);
    if (length > data.size() - colon - 1 || colon + 1 + length >= data.size() ||
        data[colon + 1 + length] != '\n') {
      break;  // cut short by a crash
    }
    const wstring path = widen_lib(data.substr(colon + 1, length));
    position = colon + 2 + length;
    switch (static_cast<JournalKind>(kind)) {
      case JournalKind::kCatalog:
        if (!haveCatalog) contents.catalog = path;
        haveCatalog = true;
        break;
      case JournalKind::kCreatedDir: contents.createdDirs.push_back(path); break;
      case JournalKind::kAddedFile: contents.addedFiles.push_back(path); break;
      case JournalKind::kTemporary: contents.temporaries.push_back(path); break;
      case JournalKind::kCommitted: contents.committed = true; break;
      default: break;
    }
  }
  return haveCatalog;
}
