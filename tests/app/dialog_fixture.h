// The fixture of the in-process wizard tests: a sandbox with a kit in the
// working directory, an English interface, and a dialog built on that kit.
#ifndef QXR8_TESTS_APP_DIALOG_FIXTURE_H_
#define QXR8_TESTS_APP_DIALOG_FIXTURE_H_

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/installer_dlg.h"
#include "app_test_support.h"
#include "platform/text_encoding.h"
#include "res/string_table.h"

namespace app_test {

// The texts as the string tables hold them, UTF-8.
inline std::string res(const char* id) { return narrow_lib(LoadResString(id)); }

inline std::vector<config::KitProductInfo> standard_records() {
  return {{u"en", u"Report Templates", u"Qxr8 Labs", u"docs\\en.html"},
          {u"ru", u"Шаблоны отчётов", u"Лаборатория", u"docs/ru.html"}};
}

inline std::vector<KitFile> standard_files() {
  return {{"readme.txt", "hello\n", 1600000000},
          {"docs\\en.html", "<p>en</p>", 1600000000},
          {"docs/ru.html", "<p>ru</p>", 1600000000},
          {"sub\\dir\\report.cfg", "report=1\n", 1600000000}};
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_resource_lang(kLangEnglish);
    sandbox = std::make_unique<Sandbox>();
    ASSERT_TRUE(write_kit(sandbox->kitDir() + "/qxr8.xdk", standard_records(), standard_files()));
  }

  void TearDown() override {
    dlg.reset();
    answerer.reset();
    pump_events(20);
    sandbox.reset();
    set_resource_lang(kLangEnglish);
  }

  // A dialog that looks for the kit in the working directory (the kit
  // directory of the sandbox).
  CInstallerDlg& makeDialog(const wstring& langCode = u"en", bool silent = false) {
    static char arg0[] = "app_dialog_test";
    static char* argv[] = {arg0, nullptr};
    dlg = std::make_unique<CInstallerDlg>(1, argv, silent, res("IDR_MAINFRAME"), langCode, true);
    answerer = std::make_unique<BoxAnswerer>();
    return *dlg;
  }

  // Checks, window and welcome page, as DoModal starts them.
  void openWizard() {
    ASSERT_TRUE(dlg->gtkReady);
    ASSERT_TRUE(dlg->OnInitDialog());
    dlg->showMainWindow();
    dlg->showWelcomePage();
    pump_events(30);
  }

  void clickNext() { CInstallerDlg::on_buttonNext_clicked(dlg->buttonNext, dlg.get()); }
  void clickBack() { CInstallerDlg::on_buttonPrev_clicked(dlg->buttonPrev, dlg.get()); }
  void clickCancel() { CInstallerDlg::button_clicked_handler(dlg->buttonCancel, dlg.get()); }
  bool pressKey(guint keyval) {
    GdkEventKey event = {};
    event.type = GDK_KEY_PRESS;
    event.keyval = keyval;
    return CInstallerDlg::gtk_window_key_press_callback(dlg->window, &event, dlg.get()) != FALSE;
  }

  // From the welcome page through the catalog page into the installation,
  // which runs to its final page before this returns.
  void installFromWelcome() {
    clickNext();
    ASSERT_EQ(dlg->curState, kStateSelectDir);
    clickNext();
  }

  // Holds the worker at its first posted state until `during` has run on
  // the main thread inside the polling loop; then lets it go on.
  void holdWorkerWhile(std::function<void()> during) {
    auto release = std::make_shared<std::atomic<bool>>(false);
    dlg->processData.setStateListener([release](unsigned code, const wstring&, int percent) {
      if (code != 0 || percent >= 100) return;
      for (int i = 0; i < 1000 && !release->load(); ++i) g_usleep(10000);
    });
    struct Pending {
      std::function<void()> during;
      std::shared_ptr<std::atomic<bool>> release;
    };
    g_timeout_add(
        60,
        [](gpointer data) -> gboolean {
          std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
          pending->during();
          pending->release->store(true);
          return FALSE;
        },
        new Pending{std::move(during), release});
  }

  bool visible(GtkWidget* widget) const { return gtk_widget_get_visible(widget) != FALSE; }
  bool sensitive(GtkWidget* widget) const { return gtk_widget_get_sensitive(widget) != FALSE; }
  std::string labelText(GtkWidget* label) const { return gtk_label_get_text(GTK_LABEL(label)); }
  GtkWidget* focused() const { return gtk_window_get_focus(GTK_WINDOW(dlg->window)); }

  std::unique_ptr<Sandbox> sandbox;
  std::unique_ptr<CInstallerDlg> dlg;
  std::unique_ptr<BoxAnswerer> answerer;
};

}  // namespace app_test

#endif  // QXR8_TESTS_APP_DIALOG_FIXTURE_H_
