// Runs this test binary again in a child process with a changed environment.
#ifndef QXR8_TESTS_MEMORY_CHILD_PROCESS_H_
#define QXR8_TESTS_MEMORY_CHILD_PROCESS_H_

#include <string>
#include <utility>
#include <vector>

// One change of the child's environment: a name and a value, or a name with
// `unset` to remove it.
struct EnvChange {
  std::string name;
  std::string value;
  bool unset;
};

// Runs /proc/self/exe with --gtest_filter=`filter` (disabled tests included)
// and the parent's environment changed by `changes`. Returns the child's exit
// status, or -1 when it could not be started or did not exit normally.
int run_self(const std::string& filter, const std::vector<EnvChange>& changes);

// Runs `argv[0]` (an absolute path) with its standard output captured into
// `out`; returns its exit status or -1.
int run_capture(const std::vector<std::string>& argv, std::string& out);

#endif  // QXR8_TESTS_MEMORY_CHILD_PROCESS_H_
