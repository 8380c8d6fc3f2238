#include "app/description_viewer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/file_finder.h"
#include "platform/process_services.h"
#include "platform/system_path.h"
#include "platform/text_encoding.h"

namespace {

constexpr char kViewer[] = "xdg-open";
// Where posix_spawnp looks when PATH is not set.
constexpr char kDefaultPath[] = "/bin:/usr/bin";

wstring system_reason(int error) {
  char buffer[256] = {0};
  // The GNU variant may answer with a static text instead of the buffer.
  return widen_lib(strerror_r(error, buffer, sizeof buffer));
}

// 0 when PATH holds an executable file `name`, as posix_spawnp would find
// it; otherwise EACCES when one is there but may not be run, else ENOENT.
int find_program(const std::string& name) {
  const char* variable = std::getenv("PATH");
  const std::string path = variable != nullptr ? variable : kDefaultPath;
  int error = ENOENT;
  for (size_t start = 0; start <= path.size();) {
    const size_t end = std::min(path.find(':', start), path.size());
    // An empty entry is the working directory.
    const std::string dir = end > start ? path.substr(start, end - start) : ".";
    const std::string candidate = dir + "/" + name;
    struct stat info;
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      if (access(candidate.c_str(), X_OK) == 0) return 0;
      error = EACCES;
    }
    start = end + 1;
  }
  return error;
}

}  // namespace

wstring open_description(const wstring& document) {
  std::string path;
  if (!to_system_path(document, path)) return system_reason(EILSEQ);
  FileFinder finder;
  if (!finder.reset(document)) {
    struct stat info;
    return system_reason(stat(path.c_str(), &info) != 0 ? errno : ENOENT);
  }
  const wstring viewer = widen_lib(std::string(kViewer) + ": ");
  const int missing = find_program(kViewer);
  if (missing != 0) return viewer + system_reason(missing);
  // A relative path that starts with "-" would read as an option.
  if (path[0] == '-') path = "./" + path;
  const char* const argv[] = {kViewer, path.c_str(), nullptr};
  if (spawn_program(argv, true, false) != 0) return viewer + system_reason(ENOEXEC);
  return wstring();
}
