#include "platform/descriptor_budget.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>

namespace {

constexpr size_t kPlenty = 1u << 20;

// Open descriptors numbered below `limit` (the limit is on the numbers a
// new descriptor may take, so one inherited above it takes none of them),
// counted in /proc/self/fd less the one reading it, or probed one by one
// where there is no /proc.
size_t open_descriptors(size_t limit) {
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    size_t count = 0;
    while (struct dirent* entry = ::readdir(dir)) {
      char* end = nullptr;
      const unsigned long fd = std::strtoul(entry->d_name, &end, 10);
      if (end != entry->d_name && *end == '\0' && fd < limit &&
          static_cast<int>(fd) != ::dirfd(dir)) {
        ++count;
      }
    }
    ::closedir(dir);
    return count;
  }
  size_t count = 0;
  for (size_t fd = 0; fd < limit; ++fd) {
    if (::fcntl(static_cast<int>(fd), F_GETFD) != -1) ++count;
  }
  return count;
}

}  // namespace

size_t descriptor_limit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
  return static_cast<size_t>(limit.rlim_cur);
}

size_t spare_descriptors() {
  const size_t limit = descriptor_limit();
  if (limit == 0 || limit > kPlenty) return kPlenty;
  const size_t open = open_descriptors(limit);
  return open >= limit ? 0 : limit - open;
}
