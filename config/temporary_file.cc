#include "config/temporary_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/process_services.h"
#include "platform/system_path.h"

namespace {

constexpr char kMarker[] = ".qxr8tmp.";
constexpr size_t kRandomLength = 8;
constexpr size_t kLongestRepeatedName = 200;  // leaves room below NAME_MAX
constexpr int kAttempts = 100;
constexpr unsigned kMode = 0666;

std::string randomSuffix() {
  static std::atomic<unsigned> counter{0};
  std::random_device device;
  unsigned long long v =
      (static_cast<unsigned long long>(device()) << 32) ^
      (static_cast<unsigned long long>(counter++) << 16) ^
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string suffix;
  for (size_t i = 0; i < kRandomLength; ++i) {
    suffix += kDigits[v % 36];
    v /= 36;
  }
  return suffix;
}

wstring candidateName(const wstring& target) {
  wstring name = u".";
  if (target.size() <= kLongestRepeatedName) name += target;
  return name + from_system_path(kMarker + std::to_string(getpid()) + "." + randomSuffix());
}

bool isRandomPart(const char* text) {
  size_t n = 0;
  for (; text[n] != '\0'; ++n) {
    const char c = text[n];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return false;
  }
  return n == kRandomLength;
}

// The process id in a temporary's name, or 0 when `name` is not one.
pid_t ownerOf(const char* name) {
  if (name[0] != '.') return 0;
  const char* marker = nullptr;
  for (const char* at = std::strstr(name, kMarker); at != nullptr;
       at = std::strstr(at + 1, kMarker)) {
    marker = at;
  }
  if (marker == nullptr) return 0;
  const char* digits = marker + sizeof kMarker - 1;
  long long pid = 0;
  const char* p = digits;
  for (; *p >= '0' && *p <= '9' && p - digits < 10; ++p) pid = pid * 10 + (*p - '0');
  if (p == digits || *p != '.' || !isRandomPart(p + 1) || pid <= 0) return 0;
  return static_cast<pid_t>(pid);
}

}  // namespace

TemporaryFile::~TemporaryFile() {
  m_file = File();
  if (!m_name.empty()) m_folder.remove(m_name);
}

Status TemporaryFile::create(const Directory& folder, const wstring& targetName) {
  Status status = folder.duplicate(m_folder);
  for (int attempt = 0; status.ok() && attempt < kAttempts; ++attempt) {
    const wstring name = candidateName(targetName);
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
  const pid_t self = getpid();
  for (const DirectoryEntry& entry : entries) {
    std::string name;
    if (!to_system_path(entry.name, name)) continue;
    const pid_t owner = ownerOf(name.c_str());
    if (owner == 0 || owner == self || process_exists(owner)) continue;
    folder.remove(entry.name);
  }
}
