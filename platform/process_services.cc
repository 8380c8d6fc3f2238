#include "platform/process_services.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wordexp.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/system_path.h"
#include "platform/text_encoding.h"

extern char** environ;

int run_linux_command(const char* commandLine) { return std::system(commandLine); }

wstring home_dir() {
  wordexp_t words{};
  int rc = wordexp("~", &words, 0);
  std::string home;
  if (rc == 0) {
    if (words.we_wordc > 0 && words.we_wordv[0] != nullptr) home = words.we_wordv[0];
    wordfree(&words);
  } else if (rc == WRDE_NOSPACE) {
    wordfree(&words);
  }
  return from_system_path(home);
}

wstring app_data_dir(bool /*create*/) {
  return home_dir() + kPathSeparator + u".qxr8" + kPathSeparator;
}

FILE* _wfopen(const char16_t* path, const char16_t* mode) {
  if (path == nullptr || mode == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  std::string name;
  if (!to_system_path(path, name)) {
    errno = EINVAL;
    return nullptr;
  }
  return std::fopen(name.c_str(), narrow_lib(mode).c_str());
}

bool isDiskRoot(const wstring& path) { return path == kPathSeparator; }

namespace {

// Spawn attributes and file actions for a child that starts with a clean
// signal state (the calling thread may block signals, GTK may ignore some),
// stdin from /dev/null and, if asked, stderr to /dev/null. Returns false
// when they cannot be set up.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  bool actionsReady = false;
  bool attributesReady = false;

  bool init(bool quietStderr) {
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    actionsReady = true;
    if (posix_spawnattr_init(&attributes) != 0) return false;
    attributesReady = true;
    if (posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) != 0)
      return false;
    if (quietStderr &&
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) != 0)
      return false;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    if (posix_spawnattr_setsigmask(&attributes, &none) != 0) return false;
    if (posix_spawnattr_setsigdefault(&attributes, &all) != 0) return false;
    return posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) ==
           0;
  }

  ~SpawnSetup() {
    if (actionsReady) posix_spawn_file_actions_destroy(&actions);
    if (attributesReady) posix_spawnattr_destroy(&attributes);
  }
};

// Waits for `pid`, retrying on signals. Returns the wait status, or -1.
int wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

}  // namespace

int spawn_program(const char* const* argv, bool quietStderr, bool wait) {
  if (argv == nullptr || argv[0] == nullptr) return -1;
  SpawnSetup setup;
  if (!setup.init(quietStderr)) return -1;
  char* const* args = const_cast<char* const*>(argv);

  if (wait) {
    pid_t pid = 0;
    // posix_spawnp reports a failed exec (e.g. not in PATH) as its result.
    if (posix_spawnp(&pid, argv[0], &setup.actions, &setup.attributes, args, environ) != 0)
      return -1;
    return wait_for(pid);
  }

  // Not waiting: an intermediate child starts the program and exits at once,
  // so the program is re-parented and never lingers as our zombie. The
  // intermediate only spawns and _exits (no allocation), which is safe after
  // fork in a threaded process; its exit code says whether the start worked.
  pid_t middle = fork();
  if (middle < 0) return -1;
  if (middle == 0) {
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &setup.actions, &setup.attributes, args, environ);
    _exit(rc == 0 ? 0 : 127);
  }
  int status = wait_for(middle);
  if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return 0;
}

bool process_exists(int pid) {
  // ESRCH only: a process of another user (EPERM) is alive.
  return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}

wstring user_name(unsigned uid) {
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(static_cast<uid_t>(uid), &entry, buffer, sizeof buffer, &found) == 0 &&
      found != nullptr && found->pw_name != nullptr) {
    return from_system_path(found->pw_name);
  }
  return from_system_path(std::to_string(uid));
}
