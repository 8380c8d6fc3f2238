// The setup wizard: one fixed-size window with a side picture, a main area
// whose content changes from page to page, and the Back, Next and Cancel
// buttons. It owns the opened kit, the state shared with the installation
// worker, the worker itself and the pages.
//
// Every member runs on the main thread, except updateProgress, the body of
// the worker thread. The members are public so that the wizard can be
// driven page by page through its handlers (tests do exactly that).
#ifndef QXR8_APP_INSTALLER_DLG_H_
#define QXR8_APP_INSTALLER_DLG_H_

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/cwnd.h"
#include "app/dir_select_page.h"
#include "app/message_page.h"
#include "app/progress_page.h"
#include "app/success_final_page.h"
#include "app/wizard_dialog_page.h"
#include "install/install_data.h"
#include "install/kit_origin.h"
#include "install/install_process_data.h"
#include "install/install_run.h"
#include "install/install_thread.h"
#include "platform/wstring.h"

// Wizard states (curState).
enum : int {
  kStateNone = 0,       // before the first page
  kStateWelcome = 1,    // welcomePage
  kStateSelectDir = 2,  // dirSelectPage
  kStateInstall = 3,    // progressPage
  kStateSuccess = 4,    // successPage
  kStateFailure = 5,    // errorPage
};

// Window geometry and the fixed positions of the shell's widgets.
inline constexpr int kDlgWidth = 500;
inline constexpr int kDlgHeight = 360;
inline constexpr int kSeparatorX = 10;
inline constexpr int kSeparatorY = 310;
inline constexpr int kSeparatorHeight = 5;
inline constexpr int kButtonWidth = 80;
inline constexpr int kButtonHeight = 30;
inline constexpr int kButtonY = 320;
inline constexpr int kButtonPrevX = 230;
inline constexpr int kButtonNextX = 310;
inline constexpr int kButtonCancelX = 410;

class CInstallerDlg : public CWnd, public IInstallWorker {
 public:
  // Copies the arguments and initialises GTK with gtk_init_check. Without a
  // display it prints one line on stderr and DoModal then does nothing.
  // Posts the first install state ("IDS_PREPARECOPY", 0 %). Main thread.
  CInstallerDlg(int argc, char** argv, bool silentMode, const std::string& title,
                const wstring& langCode, bool useCurrentDir);
  // Destroys the window if it still exists. Does not wait for the worker:
  // DoModal already waited where a rollback was due, and after a success
  // the worker touches nothing of the dialog any more. Main thread.
  ~CInstallerDlg() override;
  CInstallerDlg(const CInstallerDlg&) = delete;
  CInstallerDlg& operator=(const CInstallerDlg&) = delete;

  // The window title, widened.
  wstring getWindowTitle() const override;
  // The wizard's window while it exists (boxes stay in front of it), else
  // null.
  GtkWindow* getTransientParent() const override;

  // Runs the wizard: the checks, then the window and its main loop (or, in
  // silent mode, the signer's check against the proposed catalog and the
  // installation at once). Returns when the window is
  // gone, at once when the checks fail, and never while a worker that has
  // reported a failure is still rolling back. Main thread.
  void DoModal();

  // --- checks and finalisation (installer_dlg_checks.cc) ---

  // Full path of the kit: the executable's directory (or, with
  // useCurrentDir, the working directory) + "/qxr8.xdk"; empty when the
  // directory cannot be determined.
  wstring getXdkFullPath() const;
  // Finds the kit, reads the launcher's catalog list, proposes a catalog,
  // checks the temporary space, judges the kit's signature and opens the
  // kit, proving its bytes. Shows an error box and returns false on the
  // first failure.
  bool OnInitDialog();
  // The box that refuses a kit whose origin cannot be trusted: `refusal`
  // names the kit (or the key file), the key id and the reason.
  void refuseUntrustedKit(const Status& refusal);
  // The kit's product and vendor for langCode (case-insensitive); both
  // empty when the kit has no record for that language.
  void titles(wstring& product, wstring& vendor) const;
  // The welcome text: titles() with the default names for empty ones, and
  // below it who signed the kit (originText).
  wstring welcomeText() const;
  // Who signed the kit, in the interface language: the signer's trusted
  // comment and whose key it is, or that the kit is not signed, or signed
  // by a key nobody here trusts.
  wstring originText() const;
  // Next on the catalog page: takes the typed path (backslashes made "/"),
  // refuses an empty one with a message, asks signerKeptOrAccepted, and
  // starts the installation unless that says no (the catalog page stays).
  void onCatalogConfirmed();
  // Whether the kit may be installed into catalogPath as far as its signer
  // goes: true when the catalog's record of the kit names no other signer.
  // Otherwise a question naming both keys, No by default, decides; Yes
  // sets the run's acceptance of the new signer. In silent mode nobody is
  // asked: an error box naming both keys and a line on stderr refuse it,
  // and exitStatus becomes 1. Nothing is written either way.
  bool signerKeptOrAccepted();
  // Puts catalogPath at the front of the launcher's catalog list; failures
  // are ignored.
  void registerCatalog();
  // Finish on a final page: opens the description when asked (and, when
  // it cannot be opened, says which file and why in a box), then destroys
  // the window. Does nothing outside states 4 and 5.
  void finalize();
  // The description path finalize uses (may be empty), relative to the
  // catalog; description_full_path makes it whole.
  wstring descriptionPath() const;

  // --- window and pages (installer_dlg.cc) ---

  // Creates the window (initMainWindow), the separator and the three
  // buttons, then shows it; page widgets come later. The window's size
  // (width, height) and every position grow with the desktop's text size
  // (layout_scale.h): 500 x 360 at the default font.
  void showMainWindow();
  // Position, fixed width x height size, modality, icon, the GtkFixed
  // (which records the layout's scale) and the window's signals (destroy,
  // delete-event, key presses).
  void initMainWindow();
  // New pixbufs of the compiled-in pictures; the dialog keeps and frees them.
  // The side picture is 158 x 286 times the layout's scale.
  GdkPixbuf* createIcon();
  GdkPixbuf* createBackImage();
  // Hides the current page's widgets, shows `page`'s, calls its onShow and
  // focuses its control (focusCurrentPage).
  void setCurPage(WizardDialogPage* page);
  // Each creates its page on first use, sets the buttons and curState and
  // shows the page. Nothing is drawn once the window is gone.
  void showWelcomePage();
  void showSelectPathPage();
  void showSuccessFinalPage();
  void showErrorFinalPage();
  // Final pages: Back hidden, Cancel insensitive, Next relabelled Finish and
  // made the default button; Next is shown except in silent mode.
  void setFinishButtons();

  // The buttons' "clicked" handlers; `dlg` is the dialog (null does
  // nothing). Each acts as the button table says for curState and returns 0.
  // Back: the welcome page from the catalog page. Next: the catalog page,
  // the catalog check and installation, or finalize on a final page.
  // Cancel: abortInstall while installing, else processCancel.
  static int on_buttonPrev_clicked(GtkWidget* widget, void* dlg);
  static int on_buttonNext_clicked(GtkWidget* widget, void* dlg);
  static int button_clicked_handler(GtkWidget* widget, void* dlg);
  // "key_press_event" handler: processKeyPress when `dlg` is not null;
  // true when the key was handled.
  static gboolean gtk_window_key_press_callback(GtkWidget* widget, GdkEventKey* event,
                                                void* dlg);
  // Escape runs the Cancel handling of the current state; returns true for
  // Escape (handled) and false for every other key.
  bool processKeyPress(GdkEventKey* event);
  // Asks the cancel question; Yes destroys the window.
  void processCancel();
  // Asks the worker not to start (a run under way goes on to its end).
  void abortInstall();

  // --- screen reader and keyboard (installer_dlg_access.cc) ---

  // Gives the keyboard focus to the current page's control: Next on the
  // welcome page, the entry (its text selected) on the catalog page, Cancel
  // while installing, the check box on the success page and Finish on the
  // failure page. A control that is hidden or insensitive gets none: the
  // window itself has the focus then. Call it again after a change of the
  // buttons' sensitivity on the same page.
  void focusCurrentPage();
  // Names the side picture `picture` after the kit's product in the
  // interface language (the text of "IDS_DEFPRODUCT" without one), so that
  // a screen reader does not read an unnamed icon.
  void nameSidePicture(GtkWidget* picture);

  // --- installation (installer_dlg_progress.cc) ---

  // Shows the progress page, starts the worker and polls its state until it
  // reports the end or a failure, then shows the final page (and registers
  // the catalog after a success).
  void showProgressPage();
  // The end of the run: the error box and the failure page, or the success
  // page and the registration; a termination signal ends the process.
  void endProgressPage(const InstallState& state);
  // The worker's body: one Installer run over processData. Returns false,
  // so the worker runs it once. Worker thread.
  bool updateProgress() override;
  // Before the process may end: waits for a worker that reported a failure
  // to finish its rollback.
  void waitForRollback();

  bool listFromBaseCfg;
  bool hasBaseCfg;
  bool silentMode;
  InstallProcessData processData;
  std::vector<wstring> tmpltsList;
  wstring catalogPath;
  wstring kitPath;
  // The check of the kit's signature that its reading feeds; declared
  // before the reader, which must not outlive it.
  KitOriginCheck kitOriginCheck;
  KitReader kitReader;
  // Who made the kit, judged and proved when it was opened.
  KitOrigin kitOrigin;
  wstring langCode;
  int curState;
  MessagePage* welcomePage;
  DirSelectPage* dirSelectPage;
  WizardDialogPage* curPage;
  ProgressPage* progressPage;
  SuccessFinalPage* successPage;
  MessagePage* errorPage;
  bool useCurrentDir;
  GdkPixbuf* backImage;
  GtkWidget* buttonPrev;
  GtkWidget* buttonNext;
  GtkWidget* buttonCancel;
  int gtkArgc;
  char** gtkArgv;
  int width;
  int height;
  std::string title;
  GtkWidget* window;
  GtkWidget* fixed;
  GdkPixbuf* icon;
  InstallThread installThread;
  // The life cycle of the installation over processData and installThread.
  InstallRun installRun;

  // Beyond the framework's fields: whether GTK could open a display, and
  // the last install code the polling loop read (nonzero: a failure whose
  // rollback must end before the process does).
  bool gtkReady;
  unsigned lastCode;
  // The program's exit status: 0, or 1 after an unattended run refused a
  // kit whose signer changed (a script cannot read the box).
  int exitStatus = 0;

 private:
  // How much larger than the reference layout the window is drawn.
  double m_layoutScale = 1.0;
  std::vector<std::string> m_argStore;  // owns the strings gtkArgv points to
  std::vector<char*> m_argPointers;
};

// The clean-up of a proposed (not typed) catalog path: any "http://",
// "https://" or "ftp://" empties it; the first "file://" is cut out; line
// feeds and carriage returns are removed. Any thread.
wstring clean_default_catalog(const wstring& path);

// The full path of the kit's description below `catalog`: the two joined by
// exactly one "/" whatever separators they bring (a catalog typed or picked
// without a final "/", a description starting with one), every "\" made
// "/". Empty when `description` names nothing: a kit without a description
// has nothing to open, and the catalog folder itself is not it. Any thread.
wstring description_full_path(const wstring& catalog, const wstring& description);

#endif  // QXR8_APP_INSTALLER_DLG_H_
