#include "app_test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "leak_suppressions.h"

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

Sandbox::Sandbox() : test_support::Sandbox("kit") {
  if (!ok()) throw std::runtime_error("the sandbox could not be made");
  make_dirs(bin());
  write_file(bin() + "/xdg-open", kViewerScript);
  write_file(path("lsan.supp"), kGuiLeakSuppressions);
  chmod((bin() + "/xdg-open").c_str(), 0755);
  const char* oldPath = getenv("PATH");
  setEnv("PATH", bin() + ":" + (oldPath != nullptr ? oldPath : "/usr/bin:/bin"));
  setEnv("QXR8_VIEWER_LOG", viewerLog());
}

std::vector<std::string> Sandbox::childEnvironment() const {
  std::vector<std::string> env;
  for (const char* name : {"HOME", "TMPDIR", "PATH", "QXR8_VIEWER_LOG", "LC_ALL", "LANG",
                           "DISPLAY", "XAUTHORITY"}) {
    if (const char* value = getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  // Under LeakSanitizer the program is held to the same standard as the
  // in-process tests: the desktop libraries' leaks are not ours.
  std::string lsan = "LSAN_OPTIONS=suppressions=" + path("lsan.supp");
  if (const char* value = getenv("LSAN_OPTIONS")) lsan += std::string(":") + value;
  env.push_back(lsan);
  return env;
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
    box.parent = gtk_window_get_transient_for(GTK_WINDOW(widget));
    GtkDialog* dialog = GTK_DIALOG(widget);
    box.buttons = gtk_dialog_get_widget_for_response(dialog, GTK_RESPONSE_YES) != nullptr
                      ? GTK_BUTTONS_YES_NO
                      : GTK_BUTTONS_OK;
    GList* buttons = gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_action_area(dialog)));
    for (GList* button = buttons; button != nullptr; button = button->next) {
      GtkStockItem item = {};  // a stock button shows its item's label, as looked up now
      gtk_stock_lookup(gtk_button_get_label(GTK_BUTTON(button->data)), &item);
      box.buttonTexts.push_back(item.label != nullptr ? item.label : "");
    }
    g_list_free(buttons);
    GtkWidget* byDefault = gtk_window_get_default_widget(GTK_WINDOW(widget));
    box.defaultResponse = byDefault ? gtk_dialog_get_response_for_widget(dialog, byDefault) : 0;
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
  answer->parent = gtk_window_get_transient_for(GTK_WINDOW(chooser));
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
