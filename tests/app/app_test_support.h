// Shared pieces of the wizard tests: the sandbox with a directory for the
// kit and a stand-in viewer that records how it was started, and answerers
// for the wizard's message boxes and folder chooser.
#ifndef QXR8_TESTS_APP_APP_TEST_SUPPORT_H_
#define QXR8_TESTS_APP_APP_TEST_SUPPORT_H_

#include <gtk/gtk.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "install/install_data.h"
#include "platform/wstring.h"
#include "tests/support/file_io.h"
#include "tests/support/kit_builder.h"
#include "tests/support/sandbox.h"

namespace app_test {

// The sandbox of the wizard tests: test_support::Sandbox (HOME, TMPDIR and
// "work/") with "kit/" (where a kit is put, and the working directory) and
// "bin/" (put first in PATH: the stand-in xdg-open). Throws
// std::runtime_error when it cannot be made.
class Sandbox : public test_support::Sandbox {
 public:
  Sandbox();

  std::string kitDir() const { return path("kit"); }
  std::string bin() const { return path("bin"); }
  // Where the stand-in xdg-open appends one line per argument it got.
  std::string viewerLog() const { return path("viewer.log"); }
  // The default catalog of the wizard in this HOME (ends with "/").
  std::string defaultCatalog() const { return home() + "/.qxr8/Qx/qxr8/tmplts/"; }
  // The per-user launcher file in this HOME.
  std::string launcherFile() const { return home() + "/.Qx/qxlaunch/qxlaunch.cfg"; }

  // The environment for a child program: HOME, TMPDIR, PATH (bin/ first),
  // the viewer log, LC_ALL and LANG of this process, and DISPLAY if set.
  std::vector<std::string> childEnvironment() const;
};

using test_support::KitFile;
using test_support::write_kit;

using test_support::file_exists;
using test_support::get_mtime;
using test_support::list_dir;
using test_support::make_dirs;
using test_support::read_file;
using test_support::remove_tree;
using test_support::set_mtime;
using test_support::write_file;

// The viewer log's lines, waiting up to `timeoutMs` for the file to appear
// (the viewer runs as its own process). Empty when it never appeared.
std::vector<std::string> wait_for_viewer(const std::string& log, int timeoutMs);

// What a message box showed.
struct SeenBox {
  std::string text;
  std::string detail;  // the secondary text below it, empty when none
  std::string title;
  GtkMessageType kind;
  GtkButtonsType buttons;
  GtkWindow* parent;  // the window it is transient for, null when none
  std::vector<std::string> buttonTexts;  // the buttons' stock labels
  int defaultResponse;  // of the button Enter presses; 0 when none
};

// Answers every message box the wizard shows: a GTK timeout finds the
// visible GtkMessageDialog, records it and responds with the next queued
// response (GTK_RESPONSE_OK when the queue is empty). Main thread; lives
// for one test.
class BoxAnswerer {
 public:
  BoxAnswerer();
  ~BoxAnswerer();
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;

  void queue(int response) { m_responses.push_back(response); }
  const std::vector<SeenBox>& seen() const { return m_seen; }

 private:
  static gboolean poll(gpointer self);
  guint m_source;
  std::vector<int> m_responses;
  std::vector<SeenBox> m_seen;
};

// Answers the folder chooser from a GTK timeout (g_timeout_add with a
// ChooserAnswer*): with `folder` it moves the chooser there and accepts once
// the chooser reports that folder as its choice; without it cancels. `seen`
// tells whether a chooser came up, `parent` what it was transient for.
struct ChooserAnswer {
  std::string folder;
  int polls = 0;
  bool seen = false;
  GtkWindow* parent = nullptr;  // the window the chooser is transient for
};
gboolean answer_chooser(gpointer answer);

// Runs pending GTK events for about `ms` milliseconds.
void pump_events(int ms);

}  // namespace app_test

#endif  // QXR8_TESTS_APP_APP_TEST_SUPPORT_H_
