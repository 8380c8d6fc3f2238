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

  const std::string& root() const { return m_root; }
  std::string home() const { return m_root + "/home"; }
  std::string tmp() const { return m_root + "/tmp"; }
  std::string kitDir() const { return m_root + "/kit"; }
  std::string bin() const { return m_root + "/bin"; }
  std::string work(const std::string& relative = "") const { return m_root + "/work/" + relative; }
  // Where the stand-in xdg-open appends one line per argument it got.
  std::string viewerLog() const { return m_root + "/viewer.log"; }
  // The default catalog of the wizard in this HOME (ends with "/").
  std::string defaultCatalog() const { return home() + "/.qxr8/Qx/qxr8/tmplts/"; }
  // The per-user launcher file in this HOME.
  std::string launcherFile() const { return home() + "/.Qx/qxlaunch/qxlaunch.cfg"; }

  // The environment for a child program: HOME, TMPDIR, PATH (bin/ first),
  // the viewer log, LC_ALL and LANG of this process, and DISPLAY if set.
  std::vector<std::string> childEnvironment() const;

 private:
  std::string m_root;
  std::vector<std::pair<std::string, std::string>> m_saved;
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

void write_file(const std::string& path, const std::string& bytes);
// Removes a file or a whole tree (made writable first); links are removed,
// never followed. Missing paths are fine.
void remove_tree(const std::string& path);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
void make_dirs(const std::string& path);
// Sets a file's access and modification time.
void set_mtime(const std::string& path, int64_t unixTime);
int64_t get_mtime(const std::string& path);
// The names in a directory (no "." and ".."), sorted; empty when missing.
std::vector<std::string> list_dir(const std::string& path);

// The viewer log's lines, waiting up to `timeoutMs` for the file to appear
// (the viewer runs as its own process). Empty when it never appeared.
std::vector<std::string> wait_for_viewer(const std::string& log, int timeoutMs);

// What a message box showed.
struct SeenBox {
  std::string text;
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

// Runs pending GTK events for about `ms` milliseconds.
void pump_events(int ms);

}  // namespace app_test

#endif  // QXR8_TESTS_APP_APP_TEST_SUPPORT_H_
