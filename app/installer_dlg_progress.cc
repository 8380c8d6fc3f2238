// The installation as the wizard runs it: the run's life cycle
// (install/install_run.h) driven from the progress page, with the GTK main
// loop kept alive between polls.
#include <glib.h>

#include <cstdio>

#include "app/installer_dlg.h"
#include "app/message_box.h"
#include "install/install_failure.h"
#include "platform/termination_signals.h"
#include "platform/text_encoding.h"
#include "res/string_table.h"

namespace {
// Pause of a polling pass that found no GTK event to dispatch: short enough
// that the bar follows the worker closely, long enough not to spin a core.
constexpr gulong kIdlePollMicroseconds = 10000;
}  // namespace

void CInstallerDlg::showProgressPage() {
  if (window != nullptr) {
    if (progressPage == nullptr) progressPage = new ProgressPage(fixed, kDlgWidth - 20);
    gtk_widget_set_sensitive(buttonPrev, FALSE);
    gtk_widget_set_sensitive(buttonNext, FALSE);
  }
  setCurPage(progressPage);
  curState = kStateInstall;
  installRun.start(kitReader, catalogPath, *this);

  InstallState state;
  do {
    // Only a changed value is handed to the page: setting the same text
    // again queues a relayout each time and would keep the loop busy.
    if (installRun.poll(state) && window != nullptr && progressPage != nullptr) {
      progressPage->setProgress(state.percent, state.position);
      // While it copies, the engine posts the file it writes as the text.
      if (state.code == 0) progressPage->setDetail(state.text, state.position);
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
    if (termination_signal() != 0) installRun.cancel();
  } while (!state.final());
  lastCode = state.code;
  endProgressPage(state);
}

void CInstallerDlg::endProgressPage(const InstallState& state) {
  if (termination_signal() != 0) {
    // Neither a message nor a final page: nobody is there to read them.
    installRun.waitForWorker();
    set_install_active(false);
    end_by_termination_signal();
  }
  // What the run kept in the catalog of an interrupted run's, and why,
  // named in full (the notes of a rollback still going on come later, to
  // the tool that waits for it).
  const InstallOutcome outcome = installRun.outcome();
  for (const wstring& note : outcome.notes) {
    std::fprintf(stderr, "setup: %s\n", narrow_lib(note).c_str());
  }
  if (state.code != 0) {
    // The posted text only says that the installation failed; the line
    // below it names the file or folder and the system's reason, so that
    // the user can tell what to mend. A run that never began has none.
    wstring detail = outcome.failure.code != 0 ? describe_failure(outcome.failure) : wstring();
    for (const wstring& note : outcome.notes) detail += u"\n" + note;
    messageBox(this, state.text, detail, kMsgBoxErrorOk);
    showErrorFinalPage();
  } else {
    showSuccessFinalPage();
    registerCatalog();
  }
}

bool CInstallerDlg::updateProgress() {
  // Nothing of this object is touched after the run: once the final state
  // is posted the dialog may already be gone.
  installRun.work();
  return false;
}

void CInstallerDlg::abortInstall() { installRun.stop(); }

void CInstallerDlg::waitForRollback() {
  if (lastCode != 0) installThread.wait();
}
