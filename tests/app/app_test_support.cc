#include "app_test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "install/kit_writer.h"
#include "leak_suppressions.h"
#include "platform/file_system.h"

namespace app_test {

namespace {

// The stand-in viewer: records its arguments, one a line after a count, and
// publishes the log with one rename so a reader never sees half of it.
const char kViewerScript[] =
    "#!/bin/sh\n"
    "out=\"$QXR8_VIEWER_LOG\"\n"
    "{ echo \"argc=$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$out.part\"\n"
    "mv \"$out.part\" \"$out\"\n";

}  // namespace

Sandbox::Sandbox() : m_root("/tmp", "qxr8-app-") {
  if (!m_root.ok()) throw std::runtime_error("mkdtemp failed");
  for (const char* sub : {"/home", "/tmp", "/kit", "/bin", "/work"}) make_dirs(root() + sub);
  write_file(bin() + "/xdg-open", kViewerScript);
  write_file(root() + "/lsan.supp", kGuiLeakSuppressions);
  chmod((bin() + "/xdg-open").c_str(), 0755);
  const char* path = getenv("PATH");
  const std::string oldPath = path != nullptr ? path : "/usr/bin:/bin";
  m_env.set("HOME", home());
  m_env.set("TMPDIR", tmp());
  m_env.set("PATH", bin() + ":" + oldPath);
  m_env.set("QXR8_VIEWER_LOG", viewerLog());
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) != nullptr) m_oldCwd = cwd;
  if (chdir(kitDir().c_str()) != 0) throw std::runtime_error("chdir failed");
}

// The environment and the tree go with the members, after this.
Sandbox::~Sandbox() {
  if (!m_oldCwd.empty() && chdir(m_oldCwd.c_str()) != 0) {
    // Nothing sensible to do; the next test sets its own directory.
  }
}

std::vector<std::string> Sandbox::childEnvironment() const {
  std::vector<std::string> env;
  for (const char* name : {"HOME", "TMPDIR", "PATH", "QXR8_VIEWER_LOG", "LC_ALL", "LANG",
                           "DISPLAY", "XAUTHORITY"}) {
    if (const char* value = getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  // Under LeakSanitizer the program is held to the same standard as the
  // in-process tests: the desktop libraries' leaks are not ours.
  std::string lsan = "LSAN_OPTIONS=suppressions=" + root() + "/lsan.supp";
  if (const char* value = getenv("LSAN_OPTIONS")) lsan += std::string(":") + value;
  env.push_back(lsan);
  return env;
}

bool write_kit(const std::string& path, const std::vector<config::KitProductInfo>& records,
               const std::vector<KitFile>& files) {
  std::string unpacked = config::encode_multi_header(records);
  std::vector<config::KitEntry> entries;
  std::string data;
  for (const KitFile& file : files) {
    config::KitEntry entry;
    entry.name = wstring(file.name.begin(), file.name.end());
    entry.lastWriteTime = EpochToFileTime(static_cast<long>(file.unixTime));
    entry.offset = static_cast<uint32_t>(data.size());
    entry.size = static_cast<uint32_t>(file.content.size());
    data += file.content;
    entries.push_back(entry);
  }
  unpacked += config::encode_file_table(entries);
  unpacked += data;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << config::deflate_raw(unpacked);
  return static_cast<bool>(out);
}

std::vector<std::string> wait_for_viewer(const std::string& log, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!file_exists(log) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::vector<std::string> lines;
  std::istringstream in(read_file(log));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

BoxAnswerer::BoxAnswerer() : m_source(g_timeout_add(40, &BoxAnswerer::poll, this)) {}

BoxAnswerer::~BoxAnswerer() { g_source_remove(m_source); }

gboolean BoxAnswerer::poll(gpointer data) {
  BoxAnswerer* self = static_cast<BoxAnswerer*>(data);
  GList* windows = gtk_window_list_toplevels();
  for (GList* item = windows; item != nullptr; item = item->next) {
    GtkWidget* widget = GTK_WIDGET(item->data);
    if (!GTK_IS_MESSAGE_DIALOG(widget) || !gtk_widget_get_visible(widget)) continue;
    SeenBox box;
    gchar* text = nullptr;
    gchar* detail = nullptr;
    GtkMessageType kind = GTK_MESSAGE_OTHER;
    g_object_get(widget, "text", &text, "secondary-text", &detail, "message-type", &kind,
                 nullptr);
    box.text = text != nullptr ? text : "";
    box.detail = detail != nullptr ? detail : "";
    g_free(text);
    g_free(detail);
    const gchar* title = gtk_window_get_title(GTK_WINDOW(widget));
    box.title = title != nullptr ? title : "";
    box.kind = kind;
    GtkDialog* dialog = GTK_DIALOG(widget);
    box.buttons = gtk_dialog_get_widget_for_response(dialog, GTK_RESPONSE_YES) != nullptr
                      ? GTK_BUTTONS_YES_NO
                      : GTK_BUTTONS_OK;
    self->m_seen.push_back(box);
    int response = GTK_RESPONSE_OK;
    if (!self->m_responses.empty()) {
      response = self->m_responses.front();
      self->m_responses.erase(self->m_responses.begin());
    }
    gtk_dialog_response(dialog, response);
    break;
  }
  g_list_free(windows);
  return TRUE;
}

gboolean answer_chooser(gpointer data) {
  ChooserAnswer* answer = static_cast<ChooserAnswer*>(data);
  GList* windows = gtk_window_list_toplevels();
  GtkWidget* chooser = nullptr;
  for (GList* item = windows; item != nullptr; item = item->next) {
    GtkWidget* widget = GTK_WIDGET(item->data);
    if (GTK_IS_FILE_CHOOSER_DIALOG(widget) && gtk_widget_get_visible(widget)) chooser = widget;
  }
  g_list_free(windows);
  if (chooser == nullptr) return TRUE;
  answer->seen = true;
  if (answer->folder.empty()) {
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
    return FALSE;
  }
  // The chooser loads folders asynchronously: set the folder, then accept
  // once it reports it as its choice.
  if (answer->polls++ == 0) {
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), answer->folder.c_str());
    return TRUE;
  }
  gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
  const bool ready = chosen != nullptr && answer->folder == chosen;
  g_free(chosen);
  if (!ready && answer->polls < 100) return TRUE;
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  return FALSE;
}

void pump_events(int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace app_test
