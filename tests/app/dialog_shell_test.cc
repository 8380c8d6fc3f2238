// The wizard's shell driven in-process under X: the state machine and its
// buttons, the fixed layout, Escape in every state, the cancel question and
// the window manager's close.
#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <map>

#include "app/message_box.h"
#include "dialog_fixture.h"

namespace app_test {
namespace {

struct Box {
  int x, y, w, h;
};

Box allocation(GtkWidget* widget) {
  GtkAllocation a;
  gtk_widget_get_allocation(widget, &a);
  return {a.x, a.y, a.width, a.height};
}

void expect_box(GtkWidget* widget, Box want, const char* what) {
  const Box got = allocation(widget);
  EXPECT_EQ(got.x, want.x) << what;
  EXPECT_EQ(got.y, want.y) << what;
  if (want.w > 0) {
    EXPECT_EQ(got.w, want.w) << what;
  }
  if (want.h > 0) {
    EXPECT_EQ(got.h, want.h) << what;
  }
}

// A button's label as GTK draws it: its own layout, in whatever font the
// label has, must fit the room the button allocated to it (the button's
// inside), and the font must stay legible.
void expect_label_fits(GtkWidget* button, const std::string& text) {
  GtkWidget* label = gtk_bin_get_child(GTK_BIN(button));
  ASSERT_TRUE(label != nullptr && GTK_IS_LABEL(label)) << text;
  EXPECT_EQ(gtk_label_get_text(GTK_LABEL(label)), text);
  const Box inside = allocation(label);
  int xpad = 0;
  gtk_misc_get_padding(GTK_MISC(label), &xpad, nullptr);
  int width = 0;
  pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(label)), &width, nullptr);
  EXPECT_LE(width + 2 * xpad, inside.w) << text << " is cut off";
  const PangoFontDescription* font = gtk_widget_get_style(label)->font_desc;
  if (!pango_font_description_get_size_is_absolute(font)) {
    EXPECT_GE(pango_font_description_get_size(font), 7 * PANGO_SCALE) << text;
  }
}

// The main text of a page wraps 10 pixels before the window's right edge.
void expect_right_margin(GtkWidget* label, const char* what) {
  const Box box = allocation(label);
  int width = 0;
  pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(label)), &width, nullptr);
  EXPECT_LE(box.x + std::max(box.w, width), kDlgWidth - 10) << what;
}

// Sends the window manager's close request as GTK receives it from X.
void send_delete_event(GtkWidget* window) {
  GdkEvent* event = gdk_event_new(GDK_DELETE);
  event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
  event->any.send_event = TRUE;
  gtk_main_do_event(event);
  gdk_event_free(event);
}

// The box's kind comes from the top byte of the flags and its buttons from
// the low byte; every answer maps to its own result.
TEST(MessageBox, FlagsChooseKindAndButtonsAndAnswersMapToResults) {
  BoxAnswerer answerer;
  struct Case {
    unsigned flags;
    int response;
    GtkMessageType kind;
    GtkButtonsType buttons;
    int result;
  };
  const Case cases[] = {
      {0x01000001, GTK_RESPONSE_OK, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, 3},
      {0x02000002, GTK_RESPONSE_YES, GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, 1},
      {0x02000002, GTK_RESPONSE_NO, GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, 2},
      {0x02000002, GTK_RESPONSE_DELETE_EVENT, GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, 0},
      {0x00000001, GTK_RESPONSE_OK, GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, 3},
      {0x03000002, GTK_RESPONSE_YES, GTK_MESSAGE_OTHER, GTK_BUTTONS_YES_NO, 1},
      {0x01000007, GTK_RESPONSE_OK, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, 3},
      {0x02000102, GTK_RESPONSE_NO, GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, 2},
  };
  // An owner lends the box its caption; without one the box has none.
  struct Owner : CWnd {
    wstring getWindowTitle() const override { return u"Caption ±"; }
  } owner;
  size_t index = 0;
  for (const Case& c : cases) {
    answerer.queue(c.response);
    CWnd* boxOwner = index % 2 == 0 ? &owner : nullptr;
    EXPECT_EQ(messageBox(boxOwner, u"100% sure? %s %d", c.flags), c.result) << index;
    ASSERT_EQ(answerer.seen().size(), index + 1);
    const SeenBox& box = answerer.seen()[index];
    EXPECT_EQ(box.text, "100% sure? %s %d") << "the text is not a format";
    EXPECT_EQ(box.kind, c.kind) << index;
    EXPECT_EQ(box.buttons, c.buttons) << index;
    EXPECT_EQ(box.title, boxOwner != nullptr ? "Caption ±" : "") << index;
    ++index;
  }
}

TEST_F(DialogTest, WalksTheStatesWithTheButtonTable) {
  makeDialog();
  EXPECT_EQ(dlg->curState, kStateNone);
  openWizard();

  // Welcome: Back shown but insensitive, Next and Cancel live.
  EXPECT_EQ(dlg->curState, kStateWelcome);
  EXPECT_EQ(dlg->curPage, dlg->welcomePage);
  EXPECT_TRUE(visible(dlg->buttonPrev));
  EXPECT_FALSE(sensitive(dlg->buttonPrev));
  EXPECT_TRUE(sensitive(dlg->buttonNext));
  EXPECT_TRUE(sensitive(dlg->buttonCancel));
  EXPECT_EQ(gtk_button_get_label(GTK_BUTTON(dlg->buttonNext)), res("IDS_WIZARD_NEXT"));
  clickBack();  // insensitive in GTK; the handler ignores it too
  EXPECT_EQ(dlg->curState, kStateWelcome);

  // Catalog page, entry filled with the proposed catalog.
  clickNext();
  EXPECT_EQ(dlg->curState, kStateSelectDir);
  EXPECT_EQ(dlg->curPage, dlg->dirSelectPage);
  EXPECT_TRUE(sensitive(dlg->buttonPrev));
  EXPECT_TRUE(sensitive(dlg->buttonNext));
  EXPECT_EQ(narrow_lib(dlg->dirSelectPage->getPath()), sandbox->defaultCatalog());
  for (GtkWidget* widget : dlg->welcomePage->widgets) EXPECT_FALSE(visible(widget));
  for (GtkWidget* widget : dlg->dirSelectPage->widgets) EXPECT_TRUE(visible(widget));

  // Back loses what was typed; Next shows the same page object again.
  DirSelectPage* page = dlg->dirSelectPage;
  page->setPath(std::string("/typed/but/not/confirmed"));
  clickBack();
  EXPECT_EQ(dlg->curState, kStateWelcome);
  EXPECT_FALSE(sensitive(dlg->buttonPrev));
  clickNext();
  EXPECT_EQ(dlg->dirSelectPage, page);
  EXPECT_EQ(narrow_lib(page->getPath()), sandbox->defaultCatalog());

  // Next installs; the success page has Finish as the default button.
  clickNext();
  EXPECT_EQ(dlg->curState, kStateSuccess);
  EXPECT_EQ(dlg->curPage, dlg->successPage);
  EXPECT_FALSE(visible(dlg->buttonPrev));
  EXPECT_TRUE(visible(dlg->buttonNext));
  EXPECT_TRUE(sensitive(dlg->buttonNext));
  EXPECT_FALSE(sensitive(dlg->buttonCancel));
  EXPECT_EQ(gtk_button_get_label(GTK_BUTTON(dlg->buttonNext)), res("IDS_WIZARD_FINISH"));
  EXPECT_TRUE(gtk_widget_has_default(dlg->buttonNext));
  for (GtkWidget* widget : dlg->progressPage->widgets) EXPECT_FALSE(visible(widget));
  EXPECT_EQ(read_file(sandbox->defaultCatalog() + "sub/dir/report.cfg"), "report=1\n");
  EXPECT_TRUE(answerer->seen().empty());
}

TEST_F(DialogTest, PlacesEveryWidgetAtItsFixedPosition) {
  makeDialog();
  openWizard();
  clickNext();
  pump_events(100);
  int w = 0, h = 0;
  gtk_window_get_size(GTK_WINDOW(dlg->window), &w, &h);
  EXPECT_EQ(w, 500);
  EXPECT_EQ(h, 360);
  EXPECT_EQ(gtk_window_get_title(GTK_WINDOW(dlg->window)), res("IDR_MAINFRAME"));
  EXPECT_NE(gtk_window_get_icon(GTK_WINDOW(dlg->window)), nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(gtk_window_get_icon(GTK_WINDOW(dlg->window))), 256);
  EXPECT_EQ(gdk_pixbuf_get_width(dlg->backImage), 158);
  EXPECT_EQ(gdk_pixbuf_get_height(dlg->backImage), 286);
  GtkWidget* separator = nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(dlg->fixed));
  for (GList* item = children; item != nullptr; item = item->next) {
    if (GTK_IS_HSEPARATOR(item->data)) separator = GTK_WIDGET(item->data);
  }
  g_list_free(children);
  ASSERT_NE(separator, nullptr);
  expect_box(separator, {10, 310, 480, 5}, "separator");
  expect_box(dlg->welcomePage->image, {0, 0, 158, 286}, "welcome picture");
  expect_box(dlg->welcomePage->label, {170, 10, 320, 250}, "welcome text");
  expect_right_margin(dlg->welcomePage->label, "welcome text");
  expect_box(dlg->buttonPrev, {230, 320, 80, 30}, "Back");
  expect_box(dlg->buttonNext, {310, 320, 80, 30}, "Next");
  expect_box(dlg->buttonCancel, {410, 320, 80, 30}, "Cancel");
  DirSelectPage* page = dlg->dirSelectPage;
  expect_box(page->image, {0, 0, 158, 286}, "side picture");
  expect_box(page->promptLabel, {170, 10, 320, 250}, "prompt");
  expect_right_margin(page->promptLabel, "prompt");
  expect_box(page->catalogLabel, {170, 255, 0, 0}, "catalog label");
  expect_box(page->entry, {170, 275, 280, 30}, "entry");
  expect_box(page->browseButton, {460, 275, 30, 30}, "browse");
  EXPECT_EQ(labelText(page->catalogLabel), res("IDS_TEMPLATE_CATALOG"));
  EXPECT_EQ(labelText(page->promptLabel), res("IDS_DESTINATION_PROMPT"));

  clickNext();
  ASSERT_EQ(dlg->curState, kStateSuccess);
  pump_events(100);
  expect_box(dlg->successPage->openDescrCheck, {170, 170, 0, 0}, "check box");
  expect_box(dlg->successPage->label, {170, 10, 320, 250}, "message");
  expect_right_margin(dlg->successPage->label, "message");
  EXPECT_TRUE(dlg->successPage->isShowReadmeChecked());
  expect_box(dlg->successPage->image, {0, 0, 158, 286}, "success picture");
  expect_box(dlg->progressPage->bar, {10, 150, 480, 20}, "bar");
  expect_box(dlg->progressPage->label, {10, 130, 0, 0}, "status line");
}

// Every label the wizard's buttons can show (Back, Next, Finish, Cancel and
// the "..." of the catalog page) reads whole in every interface language.
TEST_F(DialogTest, EveryButtonLabelFitsItsButtonInEveryLanguage) {
  for (const auto& [lang, info] : get_lang_registry()) {
    SCOPED_TRACE(info.code);
    set_resource_lang(lang);
    makeDialog(widen_lib(info.code));
    openWizard();
    clickNext();
    ASSERT_EQ(dlg->curState, kStateSelectDir);
    pump_events(30);
    expect_label_fits(dlg->buttonPrev, res("IDS_WIZARD_BACK"));
    expect_label_fits(dlg->buttonNext, res("IDS_WIZARD_NEXT"));
    expect_label_fits(dlg->buttonCancel, res("IDS_WIZARD_CANCEL"));
    expect_label_fits(dlg->dirSelectPage->browseButton, "...");
    // Finish is the Next button relabelled on the final pages.
    dlg->showSuccessFinalPage();
    pump_events(30);
    expect_label_fits(dlg->buttonNext, res("IDS_WIZARD_FINISH"));
    expect_box(dlg->buttonNext, {310, 320, 80, 30}, "Finish keeps the button's size");
  }
}

TEST_F(DialogTest, ProgressPageShowsStartTextBelowAHundredAndFinishTextAtIt) {
  makeDialog();
  openWizard();
  ProgressPage page(dlg->fixed, 480);
  EXPECT_EQ(labelText(page.label), res("IDS_PROGRESS_START"));
  page.setProgress(99);
  EXPECT_EQ(labelText(page.label), res("IDS_PROGRESS_START"));
  EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(page.bar)), 0.99);
  // By bytes once the run has counted them: 150 of 200 bytes at file 1 of 9.
  page.setProgress(3, {1, 9, 150, 200});
  EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(page.bar)), 0.75);
  page.setDetail(u"/c/a%1.txt", {7, 9});  // the file and its number; a path is not a pattern
  EXPECT_EQ(labelText(page.detailLabel), "File 7 of 9: /c/a%1.txt");
  page.setProgress(100);
  EXPECT_EQ(labelText(page.label), res("IDS_INSTALL_FINISH"));
  EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(page.bar)), 1.0);
}

TEST_F(DialogTest, CancelQuestionAnsweredNoKeepsTheStateAndYesClosesTheWindow) {
  makeDialog();
  openWizard();
  answerer->queue(GTK_RESPONSE_NO);
  clickCancel();
  ASSERT_EQ(answerer->seen().size(), 1u);
  const SeenBox& question = answerer->seen()[0];
  EXPECT_EQ(question.text, res("IDS_ACCEPT_CANCEL"));
  EXPECT_EQ(question.kind, GTK_MESSAGE_QUESTION);
  EXPECT_EQ(question.buttons, GTK_BUTTONS_YES_NO);
  EXPECT_EQ(question.title, res("IDR_MAINFRAME"));
  EXPECT_EQ(question.parent, GTK_WINDOW(dlg->window)) << "a box must not slip behind the wizard";
  EXPECT_EQ(dlg->curState, kStateWelcome);
  ASSERT_NE(dlg->window, nullptr);

  clickNext();
  answerer->queue(GTK_RESPONSE_YES);
  clickCancel();
  EXPECT_EQ(answerer->seen().size(), 2u);
  EXPECT_EQ(dlg->window, nullptr);
  EXPECT_FALSE(file_exists(sandbox->defaultCatalog()));
  EXPECT_FALSE(file_exists(sandbox->launcherFile()));
}

// The boxes' stock buttons speak the wizard's language, and English again after it.
TEST_F(DialogTest, TheBoxesStockButtonsSpeakTheWizardsLanguage) {
  if (!g_file_test("/usr/share/locale/de/LC_MESSAGES/gtk20.mo", G_FILE_TEST_EXISTS))
    GTEST_SKIP() << "this system has no German translations of GTK (gtk20.mo)";
  sandbox->setEnv("LANGUAGE", "");  // the wizard sets it; put back after the test
  for (const auto& [code, buttons] : std::map<std::string, std::vector<std::string>>{
           {"de", {"_Ja", "_Nein"}}, {"en", {"_Yes", "_No"}}}) {  // in this order
    set_resource_lang(get_lang_id_by_lang_code(code));
    makeDialog(widen_lib(code));
    openWizard();
    clickCancel();
    EXPECT_EQ(answerer->seen().at(0).buttonTexts, buttons) << code;
  }
}

TEST_F(DialogTest, DoModalEndsWhenTheCancelQuestionIsAnsweredYes) {
  makeDialog();
  answerer->queue(GTK_RESPONSE_YES);
  g_timeout_add(
      100,
      [](gpointer data) -> gboolean {
        CInstallerDlg* d = static_cast<CInstallerDlg*>(data);
        gtk_button_clicked(GTK_BUTTON(d->buttonCancel));
        return FALSE;
      },
      dlg.get());
  dlg->DoModal();  // returns only when the main loop has ended
  EXPECT_EQ(dlg->window, nullptr);
  EXPECT_EQ(answerer->seen().size(), 1u);
  EXPECT_EQ(dlg->curState, kStateWelcome);
}

TEST_F(DialogTest, EscapeAsksTheCancelQuestionOutsideTheInstallation) {
  makeDialog();
  // State 0: before any window the question is still asked.
  answerer->queue(GTK_RESPONSE_NO);
  EXPECT_TRUE(dlg->processKeyPress([] {
    static GdkEventKey e = {};
    e.keyval = GDK_KEY_Escape;
    return &e;
  }()));
  EXPECT_EQ(answerer->seen().size(), 1u);
  openWizard();

  // Other keys are left to GTK and ask nothing.
  EXPECT_FALSE(pressKey(GDK_KEY_Return));
  EXPECT_FALSE(pressKey(GDK_KEY_a));
  EXPECT_EQ(answerer->seen().size(), 1u);
  EXPECT_FALSE(CInstallerDlg::gtk_window_key_press_callback(dlg->window, nullptr, nullptr));

  answerer->queue(GTK_RESPONSE_NO);
  EXPECT_TRUE(pressKey(GDK_KEY_Escape));
  EXPECT_EQ(answerer->seen().size(), 2u);
  EXPECT_EQ(answerer->seen()[1].text, res("IDS_ACCEPT_CANCEL"));
  EXPECT_EQ(dlg->curState, kStateWelcome);

  clickNext();
  answerer->queue(GTK_RESPONSE_NO);
  EXPECT_TRUE(pressKey(GDK_KEY_Escape));
  EXPECT_EQ(answerer->seen().size(), 3u);
  EXPECT_EQ(dlg->curState, kStateSelectDir);
  // A box closed without an answer (Escape in the box) is not a Yes.
  answerer->queue(GTK_RESPONSE_DELETE_EVENT);
  EXPECT_TRUE(pressKey(GDK_KEY_Escape));
  EXPECT_EQ(dlg->curState, kStateSelectDir);
  EXPECT_NE(dlg->window, nullptr);
}

TEST_F(DialogTest, EscapeAndCancelDuringTheInstallationDoNotStopIt) {
  makeDialog();
  openWizard();
  clickNext();
  int stateSeen = -1;
  bool escapeHandled = false;
  bool backSensitive = true, nextSensitive = true, cancelSensitive = false;
  holdWorkerWhile([&] {
    stateSeen = dlg->curState;
    EXPECT_EQ(focused(), dlg->buttonCancel);
    backSensitive = sensitive(dlg->buttonPrev);
    nextSensitive = sensitive(dlg->buttonNext);
    cancelSensitive = sensitive(dlg->buttonCancel);
    escapeHandled = pressKey(GDK_KEY_Escape);
    gtk_button_clicked(GTK_BUTTON(dlg->buttonCancel));
  });
  clickNext();
  EXPECT_EQ(stateSeen, kStateInstall);
  EXPECT_FALSE(backSensitive);
  EXPECT_FALSE(nextSensitive);
  EXPECT_TRUE(cancelSensitive);
  EXPECT_TRUE(escapeHandled);
  EXPECT_TRUE(answerer->seen().empty()) << "no question while installing";
  EXPECT_EQ(dlg->curState, kStateSuccess);
  EXPECT_EQ(read_file(sandbox->defaultCatalog() + "readme.txt"), "hello\n");
}

TEST_F(DialogTest, EscapeOnAFinalPageAsksAndYesClosesWithoutOpeningAnything) {
  makeDialog();
  openWizard();
  installFromWelcome();
  ASSERT_EQ(dlg->curState, kStateSuccess);
  answerer->queue(GTK_RESPONSE_NO);
  EXPECT_TRUE(pressKey(GDK_KEY_Escape));
  EXPECT_EQ(dlg->curState, kStateSuccess);
  ASSERT_NE(dlg->window, nullptr);
  answerer->queue(GTK_RESPONSE_YES);
  EXPECT_TRUE(pressKey(GDK_KEY_Escape));
  EXPECT_EQ(answerer->seen().size(), 2u);
  EXPECT_EQ(dlg->window, nullptr);
  EXPECT_TRUE(wait_for_viewer(sandbox->viewerLog(), 700).empty());
}

TEST_F(DialogTest, WindowManagerCloseIsRefusedOnlyWhileInstalling) {
  makeDialog();
  openWizard();
  clickNext();
  bool aliveAfterClose = false;
  holdWorkerWhile([&] {
    send_delete_event(dlg->window);
    aliveAfterClose = dlg->window != nullptr;
  });
  clickNext();
  EXPECT_TRUE(aliveAfterClose);
  ASSERT_NE(dlg->window, nullptr);
  EXPECT_EQ(dlg->curState, kStateSuccess);
  EXPECT_TRUE(visible(dlg->successPage->label));

  // On the final page the close destroys the window like a cancel, without
  // a question and without opening the description.
  send_delete_event(dlg->window);
  EXPECT_EQ(dlg->window, nullptr);
  EXPECT_TRUE(answerer->seen().empty());
  EXPECT_TRUE(wait_for_viewer(sandbox->viewerLog(), 700).empty());
}

// The desktop's font and resolution, set as its settings daemon sets them.
void set_desktop_text(const std::string& font, gint dpi) {
  gtk_settings_set_string_property(gtk_settings_get_default(), "gtk-font-name", font.c_str(), "test");
  gtk_settings_set_long_property(gtk_settings_get_default(), "gtk-xft-dpi", dpi, "test");
}

// Every text of the page is drawn whole: each label's text fits the room
// it was given and the window, and nothing else covers it (a label covers
// its text, a widget with a label or without text its allocation).
void expect_texts_whole(CInstallerDlg& dlg, const std::string& page) {
  pump_events(40);
  int width = 0, height = 0;
  gtk_window_get_size(GTK_WINDOW(dlg.window), &width, &height);
  std::vector<std::pair<GtkWidget*, Box>> shown;
  GList* children = gtk_container_get_children(GTK_CONTAINER(dlg.fixed));
  for (GList* item = children; item != nullptr; item = item->next) {
    GtkWidget* widget = GTK_WIDGET(item->data);
    GtkWidget* label = GTK_IS_BIN(widget) ? gtk_bin_get_child(GTK_BIN(widget)) : widget;
    if (!GTK_IS_LABEL(label)) label = nullptr;
    if (!gtk_widget_get_visible(widget)) continue;
    const Box room = allocation(label != nullptr ? label : widget);
    Box text = room;
    if (label != nullptr) pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(label)), &text.w, &text.h);
    EXPECT_TRUE(text.w <= room.w && text.h <= room.h && text.x + text.w <= width && text.y + text.h <= height)
        << page << ": " << (label != nullptr ? gtk_label_get_text(GTK_LABEL(label)) : "a widget") << " is cut";
    shown.emplace_back(label, label == widget ? text : allocation(widget));
  }
  g_list_free(children);
  for (const auto& [label, text] : shown) {
    for (const auto& [other, box] : shown) {
      EXPECT_TRUE(label == nullptr || &text == &box || text.x + text.w <= box.x ||
                  box.x + box.w <= text.x || text.y + text.h <= box.y || box.y + box.h <= text.y)
          << page << ": " << gtk_label_get_text(GTK_LABEL(label)) << " is covered";
    }
  }
}

// With larger desktop text the window and every position and size grow in
// proportion and no page cuts a text; at the default size nothing changes.
TEST_F(DialogTest, LargerDesktopTextGrowsTheLayoutAndCutsNoText) {
  gchar* desktopFont = nullptr;
  gint desktopDpi = -1;
  g_object_get(gtk_settings_get_default(), "gtk-font-name", &desktopFont, "gtk-xft-dpi", &desktopDpi, nullptr);
  for (const auto& [points, dpi] : {std::pair{10, 96}, {14, 96}, {18, 96}, {10, 144}}) {
    for (const LangIdType lang : {kLangEnglish, kLangGerman, kLangUkrainian, kLangKazakh}) {
      SCOPED_TRACE(get_lang_code_by_id(lang) + " " + std::to_string(points) + " pt " + std::to_string(dpi));
      const auto px = [k = points * dpi](int pixels) { return (pixels * k + 480) / 960; };
      set_desktop_text("Sans " + std::to_string(points), dpi * 1024);
      set_resource_lang(lang);
      makeDialog(widen_lib(get_lang_code_by_id(lang)));
      openWizard();
      expect_box(dlg->fixed, {0, 0, px(500), px(360)}, "window");
      expect_box(dlg->buttonNext, {px(310), px(320), px(80), px(30)}, "Next");
      expect_texts_whole(*dlg, "welcome");
      clickNext();
      expect_texts_whole(*dlg, "catalog");
      clickNext();
      expect_texts_whole(*dlg, "success");
      dlg->setCurPage(dlg->progressPage);
      dlg->progressPage->setDetail(widen_lib(sandbox->defaultCatalog() + "templates/forms"), {12, 345});
      expect_texts_whole(*dlg, "progress");
    }
  }
  set_desktop_text(desktopFont, desktopDpi);
  g_free(desktopFont);
}

TEST_F(DialogTest, WindowManagerCloseOnTheWelcomePageEndsTheMainLoop) {
  makeDialog();
  g_timeout_add(
      100,
      [](gpointer data) -> gboolean {
        send_delete_event(static_cast<CInstallerDlg*>(data)->window);
        return FALSE;
      },
      dlg.get());
  dlg->DoModal();
  EXPECT_EQ(dlg->window, nullptr);
  EXPECT_TRUE(answerer->seen().empty());
}

}  // namespace
}  // namespace app_test

namespace app_test {
namespace {

TEST_F(DialogTest, FolderChooserReplacesTheEntryOnlyWhenAFolderIsAccepted) {
  makeDialog();
  openWizard();
  clickNext();
  DirSelectPage* page = dlg->dirSelectPage;
  page->setPath(std::string("typed by hand"));

  ChooserAnswer cancel;
  g_timeout_add(50, answer_chooser, &cancel);
  gtk_button_clicked(GTK_BUTTON(page->browseButton));
  EXPECT_TRUE(cancel.seen);
  EXPECT_EQ(cancel.parent, GTK_WINDOW(dlg->window));
  EXPECT_EQ(page->getPath(), u"typed by hand");

  // An accepted folder goes into GTK's recently-used list: that must be a
  // private one, not the list of whoever runs the tests.
  EXPECT_EQ(std::string(g_get_user_data_dir()).rfind("/tmp/qxr8-gui-", 0), 0u)
      << g_get_user_data_dir();
  ChooserAnswer accept;
  accept.folder = sandbox->work("picked");
  make_dirs(accept.folder);
  g_timeout_add(50, answer_chooser, &accept);
  gtk_button_clicked(GTK_BUTTON(page->browseButton));
  EXPECT_TRUE(accept.seen);
  EXPECT_EQ(narrow_lib(page->getPath()), accept.folder);
  EXPECT_EQ(dlg->curState, kStateSelectDir);
  EXPECT_EQ(button_clicked_handler(nullptr, nullptr), 0) << "a null page is ignored";
}

}  // namespace
}  // namespace app_test
