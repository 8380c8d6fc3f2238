// An X display for the GUI tests: the one in DISPLAY (xvfb-run gives one),
// or else a private Xvfb started for this test program and stopped at its
// end. GTK is initialised on it once, before the first test, with private
// XDG user directories so that nothing is written below the real HOME.
#ifndef QXR8_TESTS_APP_X_DISPLAY_H_
#define QXR8_TESTS_APP_X_DISPLAY_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/child_process.h"

namespace app_test {

class XDisplayEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;

 private:
  void startServer();
  std::unique_ptr<test_support::Child> m_server;  // the private Xvfb, if one was started
  std::string m_userDirs;  // private XDG_* directories, removed at the end
};

}  // namespace app_test

#endif  // QXR8_TESTS_APP_X_DISPLAY_H_
