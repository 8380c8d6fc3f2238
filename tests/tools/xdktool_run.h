// build/bin/xdktool as the tests of the tool run it: a program in a child
// process (no shell), its output captured (see tests/support/child_process.h).
#ifndef QXR8_TESTS_TOOLS_XDKTOOL_RUN_H_
#define QXR8_TESTS_TOOLS_XDKTOOL_RUN_H_

#include <string>
#include <vector>

#include "tests/support/child_process.h"

inline const std::string kXdktool = std::string(QXR8_BINARY_DIR) + "/bin/xdktool";

// The command line of xdktool with `args`.
inline std::vector<std::string> xdktool_argv(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {kXdktool};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// Runs xdktool with `args` to its end, in this process's environment.
inline test_support::ChildResult run_xdktool(const std::vector<std::string>& args,
                                             const test_support::ChildOptions& options = {}) {
  return test_support::run_program(xdktool_argv(args), options);
}

#endif  // QXR8_TESTS_TOOLS_XDKTOOL_RUN_H_
