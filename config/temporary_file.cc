#include "config/temporary_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

namespace {

constexpr char kMarker[] = ".qxr8tmp.";
constexpr size_t kRandomLength = 8;
constexpr size_t kLongestRepeatedName = 200;  // leaves room below NAME_MAX
constexpr int kAttempts = 100;

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

std::string candidateName(const std::string& target) {
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string name = dir + ".";
  if (base.size() <= kLongestRepeatedName) name += base;
  return name + kMarker + std::to_string(getpid()) + "." + randomSuffix();
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
  close();
  if (!m_name.empty()) unlink(m_name.c_str());
}

bool TemporaryFile::create(const std::string& target) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::string name = candidateName(target);
    // 0666 lets the umask decide, as a plain create of the file would.
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
      m_fd = fd;
      m_name = name;
      return true;
    }
    if (errno != EEXIST && errno != EINTR) return false;
  }
  errno = EEXIST;
  return false;
}

bool TemporaryFile::close() {
  if (m_fd < 0) return true;
  const int rc = ::close(m_fd);
  m_fd = -1;
  return rc == 0;
}

void remove_stale_temporaries(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  const pid_t self = getpid();
  while (const dirent* entry = readdir(d)) {
    const pid_t owner = ownerOf(entry->d_name);
    if (owner == 0 || owner == self) continue;
    // ESRCH only: a process of another user (EPERM) is alive.
    if (kill(owner, 0) == 0 || errno != ESRCH) continue;
    unlinkat(dirfd(d), entry->d_name, 0);
  }
  closedir(d);
}
