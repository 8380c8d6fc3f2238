#include "x_display.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtk/gtk.h>

#include <cstdlib>
#include <string>

#include "app_test_support.h"

namespace app_test {

void XDisplayEnvironment::SetUp() {
  // GLib fixes the user's data, configuration and cache directories at
  // their first use, which comes before any test's private HOME: without
  // these, the folder chooser would record its folders in the real user's
  // recently-used list and fontconfig would write into the real cache.
  char pattern[] = "/tmp/qxr8-gui-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  m_userDirs = pattern;
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
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  m_server = fork();
  ASSERT_GE(m_server, 0);
  if (m_server == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
           "tcp", "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  // Xvfb writes the display number it took once it accepts connections.
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  ASSERT_FALSE(number.empty()) << "Xvfb did not start";
  setenv("DISPLAY", (":" + number).c_str(), 1);
}

void XDisplayEnvironment::TearDown() {
  if (!m_userDirs.empty()) remove_tree(m_userDirs);
  if (m_server <= 0) return;
  kill(m_server, SIGTERM);
  waitpid(m_server, nullptr, 0);
  unsetenv("DISPLAY");
}

// Registered before main runs, so the display exists before any test
// initialises GTK.
const ::testing::Environment* const kDisplay =
    ::testing::AddGlobalTestEnvironment(new XDisplayEnvironment);

}  // namespace app_test
