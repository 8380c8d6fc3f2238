#include "install/install_run.h"

#include "install/installer.h"
#include "platform/termination_signals.h"
#include "res/string_table.h"

InstallRun::InstallRun(InstallProcessData& data, InstallThread& thread)
    : m_data(data), m_thread(thread) {}

void InstallRun::start(KitReader& kit, const wstring& catalog, IInstallWorker& worker) {
  m_data.init(&kit, catalog);
  m_begun.store(false);
  m_stopRequested = false;
  m_cancelRequested = false;
  m_polled = false;
  set_install_active(true);
  const int startError = m_thread.start(&worker);
  if (startError != 0) {
    set_install_active(false);
    // Nothing will ever post a final state: end the run as a failure here,
    // or the poller would wait for ever.
    const unsigned code = static_cast<unsigned>(startError);
    Status failure = error_status(code);
    failure.systemError = startError;  // the thread library's errno: its words, not a code's
    m_data.setFailure(failure);
    m_data.setInstallState(code, LoadResString("IDS_INSTALL_ERROR"), 0);
  }
}

void InstallRun::work() {
  m_begun.store(true);
  InstallProcessData& data = m_data;
  Installer installer;
  installer.run(&data);
  // The rollback is complete: a signal may now end the process.
  set_install_active(false);
}

bool InstallRun::poll(InstallState& state) {
  m_data.getInstallState(state.code, state.text, state.percent, state.position);
  if (m_stopRequested && !m_begun.load() && !state.final()) {
    // A stop that came before the worker began leaves nobody to post the
    // end. Joining is immediate then (in the instant between the worker's
    // look at the request and the start of its run, the join lasts the
    // whole run, which then posts its own end).
    m_thread.wait();
    if (!m_begun.load()) {
      set_install_active(false);
      m_data.setInstallState(kErrorCancelled, LoadResString("IDS_CANCEL_FINISH"), state.percent);
    }
    m_data.getInstallState(state.code, state.text, state.percent, state.position);
  }
  const bool changed = !m_polled || state.code != m_last.code || state.percent != m_last.percent ||
                       state.text != m_last.text ||
                       state.position.bytesWritten != m_last.position.bytesWritten;
  m_polled = true;
  m_last = state;
  return changed;
}

void InstallRun::stop() {
  m_stopRequested = true;
  m_thread.stop();
}

void InstallRun::cancel() {
  if (m_cancelRequested || m_last.final()) return;
  m_cancelRequested = true;
  m_data.setCancel(true);
}

InstallOutcome InstallRun::outcome() {
  InstallOutcome outcome;
  outcome.code = m_last.code;
  outcome.text = m_last.text;
  outcome.percent = m_last.percent;
  // Stored before the final state was posted.
  m_data.getFailure(outcome.failure);
  m_data.getStats(outcome.stats);
  m_data.getRollbackResult(outcome.catalogRestored, outcome.keptBackups);
  m_data.getNotes(outcome.notes);
  return outcome;
}

void InstallRun::waitForWorker() { m_thread.wait(); }
