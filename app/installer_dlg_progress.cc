// The installation as the wizard runs it: the start of the worker, the
// polling loop of the progress page, and the end of the run.
#include <glib.h>

#include "app/installer_dlg.h"
#include "app/message_box.h"
#include "app/termination_signals.h"
#include "install/install_failure.h"
#include "install/installer.h"
#include "platform/file_system.h"
#include "res/string_table.h"

namespace {
// Pause of a polling pass that found no GTK event to dispatch: short enough
// that the bar follows the worker closely, long enough not to spin a core.
constexpr gulong kIdlePollMicroseconds = 10000;
}  // namespace

void CInstallerDlg::showProgressPage() {
  if (window != nullptr) {
    if (progressPage == nullptr) progressPage = new ProgressPage(fixed, width - 20);
    gtk_widget_set_sensitive(buttonPrev, FALSE);
    gtk_widget_set_sensitive(buttonNext, FALSE);
  }
  processData.init(&kitReader, catalogPath);
  setCurPage(progressPage);
  curState = kStateInstall;
  m_abortRequested = false;
  m_runBegun.store(false);
  set_install_active(true);
  const int startError = installThread.start(this);
  if (startError != 0) {
    set_install_active(false);
    // Nothing will ever post a final state: end the run as a failure here,
    // or the loop below would wait for ever.
    processData.setInstallState(static_cast<unsigned>(startError),
                                LoadResString("IDS_INSTALL_ERROR"), 0);
  }

  unsigned code = 0;
  wstring text;
  int percent = 0;
  int shownPercent = -1;
  while (code == 0 && percent <= 99) {
    processData.getInstallState(code, text, percent);
    // Only a changed value is handed to the page: setting the same text
    // again queues a relayout each time and would keep the loop busy.
    if (percent != shownPercent && window != nullptr && progressPage != nullptr) {
      progressPage->setProgress(percent);
      shownPercent = percent;
    }
    // A blocking iteration with nothing queued would wait for the next X
    // event, while the worker may be copying one large file: dispatch what
    // is pending, otherwise sleep briefly and read the state again.
    if (gtk_events_pending()) {
      gtk_main_iteration_do(FALSE);
    } else {
      g_usleep(kIdlePollMicroseconds);
    }
    // Told to end: the run is cancelled and rolls back after the file it
    // is writing; the process ends once that is done.
    if (termination_signal() != 0 && code == 0 && percent <= 99) processData.setCancel(true);
    if (m_abortRequested && !m_runBegun.load() && code == 0 && percent <= 99) {
      // A stop that came before the worker began leaves nobody to post the
      // end. Joining is immediate then (in the instant between the
      // worker's look at the request and the start of its run, the join
      // lasts the whole run, which then posts its own end).
      installThread.wait();
      if (!m_runBegun.load()) {
        processData.setInstallState(kErrorCancelled, LoadResString("IDS_CANCEL_FINISH"), percent);
      }
    }
  }
  lastCode = code;

  if (termination_signal() != 0) {
    // Neither a message nor a final page: nobody is there to read them.
    installThread.wait();
    set_install_active(false);
    end_by_termination_signal();
  }

  if (code != 0) {
    // The posted text only says that the installation failed; the line
    // below it names the file or folder and the system's reason, so that
    // the user can tell what to mend. A run that never began has none.
    InstallFailure failure;
    processData.getFailure(failure);
    const wstring detail = failure.code != 0 ? describe_failure(failure) : wstring();
    messageBox(this, text, detail, kMsgBoxErrorOk);
    showErrorFinalPage();
  } else {
    showSuccessFinalPage();
    registerCatalog();
  }
}

bool CInstallerDlg::updateProgress() {
  m_runBegun.store(true);
  Installer installer;
  installer.run(&processData);
  // The rollback is complete: a signal may now end the process.
  set_install_active(false);
  // Nothing of this object is touched after the run: once the final state
  // is posted the dialog may already be gone.
  return false;
}

void CInstallerDlg::abortInstall() {
  m_abortRequested = true;
  installThread.stop();
}

void CInstallerDlg::waitForRollback() {
  if (lastCode != 0) installThread.wait();
}
