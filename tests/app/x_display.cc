#include "x_display.h"

#include <signal.h>
#include <unistd.h>

#include <gtk/gtk.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "tests/support/temp_dir.h"

namespace app_test {

void XDisplayEnvironment::SetUp() {
  // GLib fixes the user's data, configuration and cache directories at
  // their first use, which comes before any test's private HOME: without
  // these, the folder chooser would record its folders in the real user's
  // recently-used list and fontconfig would write into the real cache.
  m_userDirs = test_support::make_temp_dir("/tmp", "qxr8-gui-");
  ASSERT_FALSE(m_userDirs.empty());
  for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
    const std::string dir = m_userDirs + "/" + name;
    make_dirs(dir);
    setenv(name, dir.c_str(), 1);
  }
  const char* display = getenv("DISPLAY");
  if (display == nullptr || *display == '\0') startServer();
  // An X server resets when its last client disconnects and refuses
  // connections meanwhile; the programs these tests start one after the
  // other would sometimes hit that moment. GTK's own connection, kept
  // open for the whole test program, prevents it.
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no X display";
}

void XDisplayEnvironment::startServer() {
  // Xvfb writes the display number it took to its standard output (the
  // pipe) once it accepts connections; its log goes to the test's stderr.
  test_support::ChildOptions options;
  options.pipes = true;
  options.err = test_support::Stream::kInherit;
  m_server = std::make_unique<test_support::Child>(
      std::vector<std::string>{"Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24",
                               "-nolisten", "tcp", "-noreset"},
      options);
  ASSERT_TRUE(m_server->started());
  std::string number;
  char c;
  while (read(m_server->fromChild(), &c, 1) == 1 && c != '\n') number += c;
  ASSERT_FALSE(number.empty()) << "Xvfb did not start";
  setenv("DISPLAY", (":" + number).c_str(), 1);
}

void XDisplayEnvironment::TearDown() {
  if (!m_userDirs.empty()) remove_tree(m_userDirs);
  if (!m_server) return;
  m_server->kill(SIGTERM);
  m_server->wait();
  m_server.reset();
  unsetenv("DISPLAY");
}

// Registered before main runs, so the display exists before any test
// initialises GTK.
const ::testing::Environment* const kDisplay =
    ::testing::AddGlobalTestEnvironment(new XDisplayEnvironment);

}  // namespace app_test
