// Shared pieces of the wizard tests: a private sandbox (HOME, TMPDIR and a
// directory for the kit), kits built with the real raw-deflate writer, a
// stand-in viewer that records how it was started, and an answerer for the
// wizard's message boxes.
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
#include "tests/support/private_env.h"
#include "tests/support/temp_dir.h"

namespace app_test {

// A fresh directory (mkdtemp) with "home/" (HOME), "tmp/" (TMPDIR), "kit/"
// (where a kit is put), "bin/" (put first in PATH: the stand-in xdg-open)
// and "work/". The environment is restored and the tree removed at the end.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& root() const { return m_root.path(); }
  std::string home() const { return root() + "/home"; }
  std::string tmp() const { return root() + "/tmp"; }
  std::string kitDir() const { return root() + "/kit"; }
  std::string bin() const { return root() + "/bin"; }
  std::string work(const std::string& relative = "") const { return root() + "/work/" + relative; }
  // Where the stand-in xdg-open appends one line per argument it got.
  std::string viewerLog() const { return root() + "/viewer.log"; }
  // The default catalog of the wizard in this HOME (ends with "/").
  std::string defaultCatalog() const { return home() + "/.qxr8/Qx/qxr8/tmplts/"; }
  // The per-user launcher file in this HOME.
  std::string launcherFile() const { return home() + "/.Qx/qxlaunch/qxlaunch.cfg"; }

  // The environment for a child program: HOME, TMPDIR, PATH (bin/ first),
  // the viewer log, LC_ALL and LANG of this process, and DISPLAY if set.
  std::vector<std::string> childEnvironment() const;

 private:
  // Removed after m_env has put the variables back.
  test_support::TempDir m_root;
  test_support::EnvironmentGuard m_env;
  std::string m_oldCwd;
};

// One file of a test kit.
struct KitFile {
  std::string name;      // as stored in the kit ("\" or "/")
  std::string content;
  int64_t unixTime;      // its last-write time
};

// Writes a kit (multi-language header with `records`, then `files`) to
// `path`, raw deflated. Returns false when it could not be written.
bool write_kit(const std::string& path, const std::vector<config::KitProductInfo>& records,
               const std::vector<KitFile>& files);

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
// tells whether a chooser came up.
struct ChooserAnswer {
  std::string folder;
  int polls = 0;
  bool seen = false;
};
gboolean answer_chooser(gpointer answer);

// Runs pending GTK events for about `ms` milliseconds.
void pump_events(int ms);

}  // namespace app_test

#endif  // QXR8_TESTS_APP_APP_TEST_SUPPORT_H_
