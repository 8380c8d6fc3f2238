#include "tests/support/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <linux/close_range.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace test_support {

namespace {

long long now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The whole content of the in-memory file `fd` (its offset untouched).
std::string read_all(int fd) {
  std::string bytes;
  if (fd < 0) return bytes;
  char buffer[65536];
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
    at += n;
  }
  return bytes;
}

// An anonymous file in memory for one captured stream; -1 when none.
int capture_file(Stream stream, const char* name) {
  return stream == Stream::kCapture ? memfd_create(name, MFD_CLOEXEC) : -1;
}

// In the child: `fd` becomes `target`, or /dev/null for kDiscard.
void redirect(Stream stream, int fd, int target) {
  if (stream == Stream::kCapture) {
    dup2(fd, target);
  } else if (stream == Stream::kDiscard) {
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) dup2(null, target);
  }
}

std::vector<char*> c_strings(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& text : texts) out.push_back(text.data());
  out.push_back(nullptr);
  return out;
}

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, const ChildOptions& options) {
  // Everything the child needs is built before the fork: between fork and
  // exec only async-signal-safe calls are made.
  std::vector<std::string> args;
  if (options.asOtherUser) {
    args = {"setpriv", "--reuid=" + std::to_string(kOtherUser),
            "--regid=" + std::to_string(kOtherUser),
            options.otherUserGroup != 0 ? "--groups=" + std::to_string(options.otherUserGroup)
                                        : std::string("--clear-groups")};
  }
  args.insert(args.end(), argv.begin(), argv.end());
  std::vector<std::string> env = options.environment ? *options.environment
                                                     : current_environment();
  std::vector<char*> cArgs = c_strings(args);
  std::vector<char*> cEnv = c_strings(env);
  start(
      [&] {
        execvpe(cArgs[0], cArgs.data(), cEnv.data());
        _exit(127);
      },
      options);
}

Child::Child(const std::function<int()>& body, const ChildOptions& options) {
  const bool switchUser = options.asOtherUser;
  const gid_t group = options.otherUserGroup;
  start(
      [&] {
        if (switchUser && (setgroups(group != 0 ? 1 : 0, &group) != 0 ||
                           setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0)) {
          _exit(kCannotSwitchUser);
        }
        _exit(body());
      },
      options);
}

void Child::start(const std::function<void()>& exec, const ChildOptions& options) {
  m_timeoutMs = options.timeoutMs;
  m_startMs = now_ms();
  const bool terminal = options.terminalColumns != 0;
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  if (!terminal) {
    m_outFile = options.pipes ? -1 : capture_file(options.out, "child-stdout");
    m_errFile = capture_file(options.err, "child-stderr");
    if (options.pipes && (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)) return;
  }
  if (terminal) {
    struct winsize size = {};
    size.ws_row = 24;
    size.ws_col = options.terminalColumns;
    m_pid = forkpty(&m_terminal, nullptr, nullptr, &size);
  } else {
    m_pid = fork();
  }
  if (m_pid == 0) {
    if (!terminal) {
      if (options.pipes) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
      } else {
        const int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, STDIN_FILENO);
        redirect(options.out, m_outFile, STDOUT_FILENO);
      }
      redirect(options.err, m_errFile, STDERR_FILENO);
    }
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    if (options.fileSizeLimit != 0) {
      const struct rlimit limit = {options.fileSizeLimit, options.fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
    }
    if (options.openFileLimit != 0) {
      // Only the standard streams go with it, as from a fresh shell.
      const struct rlimit limit = {options.openFileLimit, options.openFileLimit};
      if (setrlimit(RLIMIT_NOFILE, &limit) != 0 ||
          syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) != 0) {
        _exit(125);
      }
    }
    exec();
    _exit(127);
  }
  if (options.pipes) {
    close(in[0]);
    close(out[1]);
    m_toChild = in[1];
    m_fromChild = out[0];
    if (m_pid < 0) closePipes();
  }
  if (m_terminal >= 0) fcntl(m_terminal, F_SETFL, fcntl(m_terminal, F_GETFL) | O_NONBLOCK);
}

Child::~Child() {
  if (m_pid > 0 && !m_ended) {
    ::kill(m_pid, SIGKILL);
    while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  closePipes();
  close_fd(m_outFile);
  close_fd(m_errFile);
  close_fd(m_terminal);
}

void Child::closePipes() {
  close_fd(m_toChild);
  close_fd(m_fromChild);
}

void Child::drainTerminal(int timeoutMs) {
  if (m_terminal < 0) return;
  pollfd ready = {m_terminal, POLLIN, 0};
  if (timeoutMs > 0 && poll(&ready, 1, timeoutMs) <= 0) return;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(m_terminal, buffer, sizeof buffer);
    if (n > 0) {
      m_result.out.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // nothing more for now (EAGAIN), or the terminal is gone (EIO)
    }
  }
}

void Child::reaped(int waitStatus) {
  m_ended = true;
  if (WIFEXITED(waitStatus)) m_result.status = WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) m_result.signal = WTERMSIG(waitStatus);
  if (m_terminal >= 0) {
    // The child is gone: what it wrote last is read up to the end of the
    // terminal (EIO), waiting for it if need be.
    fcntl(m_terminal, F_SETFL, fcntl(m_terminal, F_GETFL) & ~O_NONBLOCK);
    drainTerminal(0);
  }
  m_result.out += read_all(m_outFile);
  m_result.err = read_all(m_errFile);
  close_fd(m_outFile);
  close_fd(m_errFile);
}

bool Child::running() {
  if (m_pid <= 0 || m_ended) return false;
  drainTerminal(0);
  int status = 0;
  if (waitpid(m_pid, &status, WNOHANG) == m_pid) reaped(status);
  return !m_ended;
}

bool Child::waitFor(int timeoutMs) {
  const long long deadline = now_ms() + timeoutMs;
  while (running()) {
    const long long now = now_ms();
    if (m_timeoutMs > 0 && now - m_startMs >= m_timeoutMs) {
      m_result.timedOut = true;
      kill(SIGKILL);
      block();
      return true;
    }
    if (now >= deadline) return false;
    // A child on a terminal is read while it runs: one that fills the
    // terminal's buffer stops until someone reads.
    if (m_terminal >= 0) {
      drainTerminal(2);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  return true;
}

const ChildResult& Child::wait() {
  if (m_pid <= 0 || m_ended) return m_result;
  if (m_timeoutMs > 0 || m_terminal >= 0) {
    // Polled: the timeout must be checked, or the terminal read.
    while (!waitFor(1000)) {
    }
    return m_result;
  }
  block();
  return m_result;
}

void Child::block() {
  int status = 0;
  while (waitpid(m_pid, &status, 0) < 0) {
    if (errno != EINTR) {
      m_ended = true;
      return;
    }
  }
  reaped(status);
}

void Child::kill(int signal) {
  if (m_pid > 0 && !m_ended) ::kill(m_pid, signal);
}

std::string Child::out() const {
  return m_ended || m_terminal >= 0 ? m_result.out : read_all(m_outFile);
}

std::string Child::err() const { return m_ended ? m_result.err : read_all(m_errFile); }

ChildResult run_program(const std::vector<std::string>& argv, const ChildOptions& options) {
  Child child(argv, options);
  return child.wait();
}

ChildResult run_function(const std::function<int()>& body, const ChildOptions& options) {
  Child child(body, options);
  return child.wait();
}

ChildResult run_self(const std::string& filter, const std::vector<std::string>& changes) {
  ChildOptions options;
  options.environment = changed_environment(current_environment(), changes);
  options.out = Stream::kInherit;
  options.err = Stream::kInherit;
  return run_program({"/proc/self/exe", "--gtest_filter=" + filter,
                      "--gtest_also_run_disabled_tests"},
                     options);
}

std::vector<std::string> current_environment() {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) env.push_back(*entry);
  return env;
}

std::vector<std::string> changed_environment(std::vector<std::string> base,
                                             const std::vector<std::string>& changes) {
  for (const std::string& change : changes) {
    const std::string name = change.substr(0, change.find('='));
    for (auto it = base.begin(); it != base.end();) {
      it = it->compare(0, name.size() + 1, name + "=") == 0 ? base.erase(it) : it + 1;
    }
    if (change.find('=') != std::string::npos) base.push_back(change);
  }
  return base;
}

}  // namespace test_support
