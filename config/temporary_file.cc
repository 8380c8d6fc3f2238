#include "config/temporary_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/path_status.h"
#include "platform/process_services.h"
#include "platform/random_name.h"
#include "platform/system_path.h"

namespace {

constexpr size_t kRandomLength = 8;
constexpr size_t kLongestRepeatedName = 200;  // leaves room below NAME_MAX
constexpr int kAttempts = 100;
constexpr unsigned kMode = 0666;

std::string randomSuffix() { return random_characters(kLowerAlphanumeric, kRandomLength); }

}  // namespace

wstring writer_file_prefix(const wstring& target, const char* marker) {
  wstring prefix = u".";
  if (target.size() <= kLongestRepeatedName) prefix += target;
  return prefix + from_system_path(marker);
}

wstring writer_file_name(const wstring& target, const char* marker) {
  return writer_file_prefix(target, marker) +
         from_system_path(std::to_string(getpid()) + "." + randomSuffix());
}

namespace {

bool isRandomPart(const char* text) {
  size_t n = 0;
  for (; text[n] != '\0'; ++n) {
    const char c = text[n];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return false;
  }
  return n == kRandomLength;
}

}  // namespace

int writer_of(const char* name, const char* wanted) {
  if (name[0] != '.') return 0;
  const char* marker = nullptr;
  for (const char* at = std::strstr(name, wanted); at != nullptr;
       at = std::strstr(at + 1, wanted)) {
    marker = at;
  }
  if (marker == nullptr) return 0;
  const char* digits = marker + std::strlen(wanted);
  long long pid = 0;
  const char* p = digits;
  for (; *p >= '0' && *p <= '9' && p - digits < 10; ++p) pid = pid * 10 + (*p - '0');
  if (p == digits || *p != '.' || !isRandomPart(p + 1) || pid <= 0) return 0;
  return static_cast<int>(pid);
}

TemporaryFile::~TemporaryFile() {
  m_file = File();
  if (!m_name.empty()) m_folder.remove(m_name);
}

Status TemporaryFile::create(const Directory& folder, const wstring& targetName) {
  Status status = folder.duplicate(m_folder);
  for (int attempt = 0; status.ok() && attempt < kAttempts; ++attempt) {
    const wstring name = writer_file_name(targetName, kTemporaryMarker);
    // 0666 lets the umask decide, as a plain create of the file would.
    status = m_folder.openFile(name, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, kMode, m_file);
    if (status.ok()) {
      m_name = name;
      return status;
    }
    if (status.code == kErrorAlreadyExists) status = Status();
  }
  return status.ok() ? error_status(kErrorAlreadyExists, folder.path()) : status;
}

void remove_stale_temporaries(const Directory& folder) {
  std::vector<DirectoryEntry> entries;
  if (!folder.list(entries).ok()) return;
  const int self = getpid();
  for (const DirectoryEntry& entry : entries) {
    std::string name;
    if (!to_system_path(entry.name, name)) continue;
    const int owner = writer_of(name.c_str(), kTemporaryMarker);
    if (owner == 0 || owner == self || process_exists(owner)) continue;
    folder.remove(entry.name);
  }
}

bool list_writer_folder(const wstring& path, Directory& folder, wstring& name,
                        std::vector<DirectoryEntry>& entries) {
  wstring target;
  if (!resolve_link_chain(path, target)) return false;
  const size_t slash = target.rfind(kPathSeparatorChar);
  name = slash == wstring::npos ? target : target.substr(slash + 1);
  const wstring parent = slash == wstring::npos ? u"." : target.substr(0, slash + 1);
  return Directory::open(parent, folder).ok() && folder.list(entries).ok();
}
