// The wizard's shell: construction, the window and its buttons, the pages
// and the state machine, Escape and the cancel question.
#include "app/installer_dlg.h"

#include <gdk/gdkkeysyms.h>

#include <cstdio>

#include "app/artwork.h"
#include "app/button_label_fit.h"
#include "app/layout_scale.h"
#include "app/message_box.h"
#include "platform/message_language.h"
#include "platform/utf8.h"
#include "res/string_table.h"

namespace {

// GTK's "clicked" and "destroy" want void handlers; the framework's
// handlers return 0, so these thin adapters sit in between.
void on_prev_clicked(GtkWidget* widget, gpointer dlg) {
  CInstallerDlg::on_buttonPrev_clicked(widget, dlg);
}
void on_next_clicked(GtkWidget* widget, gpointer dlg) {
  CInstallerDlg::on_buttonNext_clicked(widget, dlg);
}
void on_cancel_clicked(GtkWidget* widget, gpointer dlg) {
  CInstallerDlg::button_clicked_handler(widget, dlg);
}

// While the worker installs, the window manager's close is refused: the
// run goes on to its final page and the user closes the window there.
gboolean on_delete_event(GtkWidget* /*widget*/, GdkEvent* /*event*/, gpointer dlg) {
  return static_cast<CInstallerDlg*>(dlg)->curState == kStateInstall ? TRUE : FALSE;
}

// The window is gone: forget every widget pointer so that nothing touches
// a destroyed widget, and end the main loop if one runs (outside a main
// loop, in silent mode or when the wizard is driven directly, there is
// nothing to end).
void on_window_destroy(GtkWidget* /*widget*/, gpointer data) {
  CInstallerDlg* dlg = static_cast<CInstallerDlg*>(data);
  dlg->window = nullptr;
  dlg->fixed = nullptr;
  dlg->buttonPrev = nullptr;
  dlg->buttonNext = nullptr;
  dlg->buttonCancel = nullptr;
  if (gtk_main_level() > 0) gtk_main_quit();
}

GtkWidget* make_button(const char* textId, GtkWidget* fixed, int x) {
  GtkWidget* button = gtk_button_new_with_label(to_ui_text(LoadResString(textId)).c_str());
  put_scaled(fixed, button, x, kButtonY, kButtonWidth, kButtonHeight);
  return button;
}

}  // namespace

CInstallerDlg::CInstallerDlg(int argc, char** argv, bool silentMode, const std::string& title,
                             const wstring& langCode, bool useCurrentDir)
    : listFromBaseCfg(false),
      hasBaseCfg(false),
      silentMode(false),
      processData(),
      tmpltsList(),
      catalogPath(),
      kitPath(),
      kitReader(),
      langCode(langCode),
      curState(kStateNone),
      welcomePage(nullptr),
      dirSelectPage(nullptr),
      curPage(nullptr),
      progressPage(nullptr),
      successPage(nullptr),
      errorPage(nullptr),
      useCurrentDir(useCurrentDir),
      backImage(nullptr),
      buttonPrev(nullptr),
      buttonNext(nullptr),
      buttonCancel(nullptr),
      gtkArgc(0),
      gtkArgv(nullptr),
      width(kDlgWidth),
      height(kDlgHeight),
      title(title),
      window(nullptr),
      fixed(nullptr),
      icon(nullptr),
      installThread(),
      installRun(processData, installThread),
      gtkReady(false),
      lastCode(0) {
  // gtk_init may remove the options it knows from the vector, so it gets a
  // private copy; the caller's argv stays as it was.
  for (int i = 0; i < argc; ++i) m_argStore.emplace_back(argv[i] != nullptr ? argv[i] : "");
  for (std::string& arg : m_argStore) m_argPointers.push_back(arg.data());
  m_argPointers.push_back(nullptr);
  gtkArgc = argc;
  gtkArgv = m_argPointers.data();
  // Without a display gtk_init would end the process with status 1; the
  // program instead says so and ends normally, like after every failure.
  gtkReady = gtk_init_check(&gtkArgc, &gtkArgv) != FALSE;
  // After gtk_init, whose setlocale would undo it: the boxes' stock buttons
  // and the system's reasons speak the language of the wizard's own texts.
  select_message_language(get_lang_code_by_id(get_resource_lang()));
  if (!gtkReady) std::fprintf(stderr, "setup: cannot open the X display, nothing was installed\n");
  this->silentMode = silentMode;
  processData.setInstallState(0, LoadResString("IDS_PREPARECOPY"), 0);
}

CInstallerDlg::~CInstallerDlg() {
  if (window != nullptr) {
    g_signal_handlers_disconnect_by_func(window, reinterpret_cast<gpointer>(on_window_destroy),
                                         this);
    gtk_widget_destroy(window);
    window = nullptr;
  }
  delete welcomePage;
  delete dirSelectPage;
  delete progressPage;
  delete successPage;
  delete errorPage;
  if (backImage != nullptr) g_object_unref(backImage);
  if (icon != nullptr) g_object_unref(icon);
}

wstring CInstallerDlg::getWindowTitle() const { return utf8_to_wide(title); }

GtkWindow* CInstallerDlg::getTransientParent() const {
  return window != nullptr ? GTK_WINDOW(window) : nullptr;
}

void CInstallerDlg::DoModal() {
  if (!gtkReady) return;
  if (!OnInitDialog()) return;
  // Unattended, the catalog is already known: a refusal comes before any
  // window, like the other refusals of a kit.
  if (silentMode && !signerKeptOrAccepted()) return;
  showMainWindow();
  showWelcomePage();
  if (silentMode) {
    showProgressPage();
  } else {
    gtk_main();
  }
  waitForRollback();
}

void CInstallerDlg::initMainWindow() {
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  GdkGeometry hints = {};
  hints.min_width = hints.max_width = hints.base_width = width;
  hints.min_height = hints.max_height = hints.base_height = height;
  gtk_window_set_geometry_hints(
      GTK_WINDOW(window), window, &hints,
      static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE | GDK_HINT_BASE_SIZE));
  gtk_window_set_modal(GTK_WINDOW(window), TRUE);
  gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
  icon = createIcon();
  gtk_window_set_icon(GTK_WINDOW(window), icon);
  fixed = gtk_fixed_new();
  set_layout_scale(fixed, m_layoutScale);
  gtk_container_add(GTK_CONTAINER(window), fixed);
  g_signal_connect(window, "destroy", G_CALLBACK(on_window_destroy), this);
  g_signal_connect(window, "delete-event", G_CALLBACK(on_delete_event), this);
  g_signal_connect(window, "key_press_event", G_CALLBACK(gtk_window_key_press_callback), this);
}

void CInstallerDlg::showMainWindow() {
  window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  // With larger desktop text the window and everything in it grow in
  // proportion (layout_scale.h); at the default font the factor is 1.
  m_layoutScale = desktop_text_scale(window);
  width = scale_pixels(kDlgWidth, m_layoutScale);
  height = scale_pixels(kDlgHeight, m_layoutScale);
  initMainWindow();
  gtk_window_set_title(GTK_WINDOW(window), title.c_str());

  GtkWidget* separator = gtk_hseparator_new();
  put_scaled(fixed, separator, kSeparatorX, kSeparatorY, kDlgWidth - 20, kSeparatorHeight);

  buttonPrev = make_button("IDS_WIZARD_BACK", fixed, kButtonPrevX);
  buttonNext = make_button("IDS_WIZARD_NEXT", fixed, kButtonNextX);
  buttonCancel = make_button("IDS_WIZARD_CANCEL", fixed, kButtonCancelX);
  gtk_widget_set_can_default(buttonNext, TRUE);
  gtk_widget_grab_default(buttonNext);
  // Some translations are wider than the 80-pixel buttons at the theme's
  // font; those are drawn smaller rather than cut off.
  for (GtkWidget* button : {buttonPrev, buttonNext, buttonCancel}) fit_button_label(button);

  g_signal_connect(buttonPrev, "clicked", G_CALLBACK(on_prev_clicked), this);
  g_signal_connect(buttonNext, "clicked", G_CALLBACK(on_next_clicked), this);
  g_signal_connect(buttonCancel, "clicked", G_CALLBACK(on_cancel_clicked), this);

  gtk_widget_show_all(fixed);
  backImage = createBackImage();
  gtk_widget_show(window);
}

GdkPixbuf* CInstallerDlg::createIcon() { return gdk_pixbuf_new_from_xpm_data(window_icon_xpm()); }

GdkPixbuf* CInstallerDlg::createBackImage() {
  // The main area starts beside the picture, so it grows with the layout.
  return scale_picture(gdk_pixbuf_new_from_xpm_data(side_picture_xpm()), m_layoutScale);
}

void CInstallerDlg::setCurPage(WizardDialogPage* page) {
  if (window == nullptr) return;
  if (curPage != nullptr) {
    for (GtkWidget* widget : curPage->widgets) gtk_widget_hide(widget);
  }
  curPage = page;
  if (page != nullptr) {
    for (GtkWidget* widget : page->widgets) gtk_widget_show(widget);
    page->onShow();
  }
  focusCurrentPage();
}

void CInstallerDlg::showWelcomePage() {
  if (window == nullptr) return;
  const wstring text = welcomeText();
  if (welcomePage == nullptr) {
    welcomePage = new MessagePage(fixed, backImage, text);
    nameSidePicture(welcomePage->image);
  }
  if (silentMode) {
    gtk_widget_hide(buttonPrev);
    gtk_widget_hide(buttonNext);
  } else {
    gtk_widget_set_sensitive(buttonPrev, FALSE);
  }
  curState = kStateWelcome;
  setCurPage(welcomePage);
}

void CInstallerDlg::showSelectPathPage() {
  if (window == nullptr) return;
  if (dirSelectPage == nullptr) {
    dirSelectPage = new DirSelectPage(fixed, backImage);
    nameSidePicture(dirSelectPage->image);
  }
  dirSelectPage->setPath(catalogPath);
  gtk_widget_set_sensitive(buttonPrev, TRUE);
  gtk_widget_set_sensitive(buttonNext, TRUE);
  curState = kStateSelectDir;
  setCurPage(dirSelectPage);
}

void CInstallerDlg::showSuccessFinalPage() {
  curState = kStateSuccess;
  if (window == nullptr) return;
  if (successPage == nullptr) {
    successPage = new SuccessFinalPage(fixed, backImage, LoadResString("IDS_SUCCESS_FINISH"));
    nameSidePicture(successPage->image);
  }
  setFinishButtons();
  setCurPage(successPage);
}

void CInstallerDlg::showErrorFinalPage() {
  curState = kStateFailure;
  if (window == nullptr) return;
  if (errorPage == nullptr) {
    errorPage = new MessagePage(fixed, backImage, LoadResString("IDS_ERROR_FINISH"));
    nameSidePicture(errorPage->image);
  }
  setFinishButtons();
  setCurPage(errorPage);
}

void CInstallerDlg::setFinishButtons() {
  if (window == nullptr) return;
  gtk_widget_set_sensitive(buttonNext, TRUE);
  gtk_widget_set_sensitive(buttonCancel, FALSE);
  gtk_widget_hide(buttonPrev);
  // An unattended run ends on its final page without a main loop: nothing
  // could press Finish there, so the button stays hidden as on every page.
  if (!silentMode) gtk_widget_show(buttonNext);
  gtk_button_set_label(GTK_BUTTON(buttonNext),
                       to_ui_text(LoadResString("IDS_WIZARD_FINISH")).c_str());
  gtk_widget_set_can_default(buttonNext, TRUE);
  gtk_widget_grab_default(buttonNext);
  fit_button_label(buttonNext);  // the new text has a new label widget
}

int CInstallerDlg::on_buttonPrev_clicked(GtkWidget* /*widget*/, void* data) {
  CInstallerDlg* dlg = static_cast<CInstallerDlg*>(data);
  if (dlg != nullptr && dlg->curState == kStateSelectDir) dlg->showWelcomePage();
  return 0;
}

int CInstallerDlg::on_buttonNext_clicked(GtkWidget* /*widget*/, void* data) {
  CInstallerDlg* dlg = static_cast<CInstallerDlg*>(data);
  if (dlg == nullptr) return 0;
  switch (dlg->curState) {
    case kStateWelcome: dlg->showSelectPathPage(); break;
    case kStateSelectDir: dlg->onCatalogConfirmed(); break;
    case kStateSuccess:
    case kStateFailure: dlg->finalize(); break;
    default: break;  // before the first page and while installing
  }
  return 0;
}

int CInstallerDlg::button_clicked_handler(GtkWidget* /*widget*/, void* data) {
  CInstallerDlg* dlg = static_cast<CInstallerDlg*>(data);
  if (dlg == nullptr) return 0;
  // On the final pages the button is insensitive, so GTK never gets here;
  // Escape reaches the same handling through processKeyPress.
  if (dlg->curState == kStateInstall) {
    dlg->abortInstall();
  } else {
    dlg->processCancel();
  }
  return 0;
}

gboolean CInstallerDlg::gtk_window_key_press_callback(GtkWidget* /*widget*/, GdkEventKey* event,
                                                      void* data) {
  if (data == nullptr) return FALSE;
  return static_cast<CInstallerDlg*>(data)->processKeyPress(event) ? TRUE : FALSE;
}

bool CInstallerDlg::processKeyPress(GdkEventKey* event) {
  if (event == nullptr || event->keyval != GDK_KEY_Escape) return false;
  if (curState == kStateInstall) {
    abortInstall();
  } else {
    processCancel();
  }
  return true;
}

void CInstallerDlg::processCancel() {
  if (messageBox(this, LoadResString("IDS_ACCEPT_CANCEL"), kMsgBoxQuestionYesNo) ==
          kMsgBoxAnswerYes &&
      window != nullptr) {
    gtk_widget_destroy(window);
  }
}
