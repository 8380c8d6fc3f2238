#include "child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace {

int wait_exit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<char*> c_strings(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& t : texts) out.push_back(&t[0]);
  out.push_back(nullptr);
  return out;
}

}  // namespace

int run_self(const std::string& filter, const std::vector<EnvChange>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    bool replaced = false;
    for (const EnvChange& c : changes) {
      size_t n = c.name.size();
      if (std::strncmp(*e, c.name.c_str(), n) == 0 && (*e)[n] == '=') replaced = true;
    }
    if (!replaced) env.push_back(*e);
  }
  for (const EnvChange& c : changes)
    if (!c.unset) env.push_back(c.name + "=" + c.value);
  std::vector<std::string> args = {"/proc/self/exe", "--gtest_filter=" + filter,
                                   "--gtest_also_run_disabled_tests"};
  std::vector<char*> argv = c_strings(args);
  std::vector<char*> envp = c_strings(env);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return wait_exit(pid);
}

int run_capture(const std::vector<std::string>& args, std::string& out) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv = c_strings(copy);
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return -1;
  }
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  return wait_exit(pid);
}
