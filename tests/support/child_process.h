// Child processes of the tests: a function or a program run in a child,
// with its standard output and error captured, its end (exit status or
// signal) reported, an optional time limit, and optionally as another user.
// A test that needs something to happen in a separate process (a kill, a
// race, a limit or a user that must not reach the test itself) goes through
// here instead of forking by hand.
//
// Captured output goes to anonymous in-memory files, never to a pipe the
// test must drain, so a child may write any amount while the test does
// other things, and the test may look at what it wrote so far. Start and
// wait from one thread; the objects are not shared between threads.
#ifndef QXR8_TESTS_SUPPORT_CHILD_PROCESS_H_
#define QXR8_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

// The exit status of a function child that was asked to run as another
// user and could not become it (the test then skips).
inline constexpr int kCannotSwitchUser = 77;
// The uid and gid of the other user (nobody on Debian and Ubuntu).
inline constexpr unsigned kOtherUser = 65534;

// Where a standard stream of the child goes.
enum class Stream {
  kCapture,  // into the result (out / err)
  kInherit,  // the test's own stream
  kDiscard,  // /dev/null
};

struct ChildOptions {
  // The working directory of the child; "" keeps the test's.
  std::string cwd;
  // The whole environment of the child as NAME=value entries; unset keeps
  // the test's (see changed_environment).
  std::optional<std::vector<std::string>> environment;
  Stream out = Stream::kCapture;
  Stream err = Stream::kCapture;
  // Standard input is /dev/null unless `pipes` is set.
  // With `pipes`, the child's standard input and output are pipes to the
  // test instead (Child::toChild and Child::fromChild); `out` is ignored.
  bool pipes = false;
  // Nonzero: the child runs on a new pseudo-terminal of this many columns
  // (and 24 rows), which is its standard input, output and error; what it
  // writes there is the result's `out`. `out`, `err` and `pipes` are
  // ignored then.
  unsigned short terminalColumns = 0;
  // Nonzero: RLIMIT_FSIZE of the child, in bytes.
  rlim_t fileSizeLimit = 0;
  // Nonzero: RLIMIT_NOFILE of the child (`ulimit -n`), which then starts
  // with no descriptor open but its standard streams.
  rlim_t openFileLimit = 0;
  // Positive: the child is killed (SIGKILL) when it has not ended this many
  // milliseconds after it started, and the result says `timedOut`.
  int timeoutMs = 0;
  // Run as kOtherUser (uid and gid, no supplementary groups but
  // otherUserGroup). A function
  // child changes its ids itself and exits with kCannotSwitchUser when that
  // is refused; a program is started through setpriv(1), which fails with
  // its own status (not 0) when it cannot.
  bool asOtherUser = false;
  // With asOtherUser and not 0: the one supplementary group of the child.
  unsigned otherUserGroup = 0;
};

// How a child ended.
struct ChildResult {
  int status = -1;        // exit status 0..255; -1 when it did not exit normally
  int signal = 0;         // the signal that ended it, else 0
  bool timedOut = false;  // ended by the kill of the options' timeout
  std::string out;        // captured standard output (or the terminal's text)
  std::string err;        // captured standard error
};

// One child process. The destructor kills (SIGKILL) and reaps a child that
// still runs, so no test leaves one behind.
class Child {
 public:
  // Runs `argv` (argv[0] looked up in PATH when it has no "/").
  explicit Child(const std::vector<std::string>& argv, const ChildOptions& options = {});
  // Runs `body` in a forked copy of the test; its return value is the exit
  // status. The child never returns into the test (no destructors, no
  // atexit handlers): it ends with _exit.
  explicit Child(const std::function<int()>& body, const ChildOptions& options = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // False when the child could not be made (fork, pipe or terminal failed).
  bool started() const { return m_pid > 0; }
  pid_t pid() const { return m_pid; }
  // Whether the child still runs (never blocks; collects it once ended).
  bool running();
  // Waits at most `timeoutMs` milliseconds for the end; true when it has
  // ended. The options' timeout still applies.
  bool waitFor(int timeoutMs);
  // Waits for the end (the options' timeout then kills it) and returns the
  // result, its output complete.
  const ChildResult& wait();
  // Sends `signal` to a child that still runs.
  void kill(int signal);
  // What the child wrote to a captured stream so far.
  std::string out() const;
  std::string err() const;
  // With `pipes`: the write end of the child's standard input and the read
  // end of its standard output; -1 otherwise. closePipes closes both, as a
  // child waiting for the end of its input needs.
  int toChild() const { return m_toChild; }
  int fromChild() const { return m_fromChild; }
  void closePipes();

 private:
  void start(const std::function<void()>& exec, const ChildOptions& options);
  void reaped(int waitStatus);
  void block();
  void drainTerminal(int timeoutMs);

  pid_t m_pid = -1;
  bool m_ended = false;
  int m_timeoutMs = 0;
  long long m_startMs = 0;
  int m_outFile = -1;  // the in-memory files of the captured streams
  int m_errFile = -1;
  int m_terminal = -1;  // the terminal's master side
  int m_toChild = -1;
  int m_fromChild = -1;
  ChildResult m_result;
};

// Runs `argv` to its end (see Child) and returns how it ended.
ChildResult run_program(const std::vector<std::string>& argv, const ChildOptions& options = {});
// Runs `body` in a child to its end (see Child) and returns how it ended.
ChildResult run_function(const std::function<int()>& body, const ChildOptions& options = {});

// This test program again, in a child, running only the tests `filter`
// (disabled ones included), with the environment changed by `changes`
// (see changed_environment) and its output going to the test's own.
ChildResult run_self(const std::string& filter, const std::vector<std::string>& changes);

// This process's environment as NAME=value entries.
std::vector<std::string> current_environment();
// `base` with each of `changes` applied in order: "NAME=value" sets NAME,
// a bare "NAME" removes it.
std::vector<std::string> changed_environment(std::vector<std::string> base,
                                             const std::vector<std::string>& changes);

}  // namespace test_support

#endif  // QXR8_TESTS_SUPPORT_CHILD_PROCESS_H_
