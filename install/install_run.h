// The life of one installation run, the same for the wizard and the kit
// tool: arm the shared state and start the worker, poll the posted state,
// stop or cancel, and read how the run ended. The two differ only in how
// they show the progress between polls.
//
// The polling thread owns the object and is the only one that calls it,
// except work(), which is the worker's body.
#ifndef QXR8_INSTALL_INSTALL_RUN_H_
#define QXR8_INSTALL_INSTALL_RUN_H_

#include <atomic>
#include <vector>

#include "install/install_data.h"
#include "install/install_failure.h"
#include "install/install_process_data.h"
#include "install/install_thread.h"
#include "platform/wstring.h"

// The posted state, as a poll read it.
struct InstallState {
  unsigned code = 0;
  wstring text;
  int percent = 0;
  InstallPosition position;

  // A run ends in a nonzero code or at 100 %.
  bool final() const { return code != 0 || percent >= 100; }
};

// How a run ended.
struct InstallOutcome {
  unsigned code = 0;  // 0 success, else the posted failure code
  wstring text;       // the posted text ("IDS_INSTALL_FINISH", "IDS_INSTALL_ERROR", ...)
  int percent = 0;
  InstallFailure failure;  // what failed (code 0 after a success)
  InstallStats stats;      // what the run did before it ended
  // After a failure: false when a replaced file could not be put back;
  // `keptBackups` is then the backup tree that holds it.
  bool catalogRestored = true;
  wstring keptBackups;
  // What the run kept in the catalog and why (install_process_data.h).
  std::vector<wstring> notes;
};

class InstallRun {
 public:
  // `data` and `thread` serve the run and must outlive it (not owned).
  InstallRun(InstallProcessData& data, InstallThread& thread);

  // Arms `data` with `kit` (opened; it must outlive the run) and `catalog`,
  // marks an installation active (termination_signals.h) and starts the
  // thread, whose `worker` must call work(). A worker that cannot be
  // started posts (the thread error, "IDS_INSTALL_ERROR", 0), so that the
  // run still ends.
  void start(KitReader& kit, const wstring& catalog, IInstallWorker& worker);

  // The worker's body: one Installer run over the shared state. Nothing of
  // this object is touched once the run has posted its final state (the
  // owner may be gone by then). Worker thread.
  void work();

  // Reads the posted state into `state`; true when it differs from what
  // the previous poll read (always true the first time). A run stopped
  // before it began is ended here with (1223, "IDS_CANCEL_FINISH").
  bool poll(InstallState& state);

  // Keeps a run that has not begun from beginning; a run under way goes on
  // to its end (the wizard's Cancel button during the installation).
  void stop();

  // Asks a run under way to stop: it rolls back after the file it is
  // writing and ends with 1223, or completes if nothing is left to write.
  void cancel();

  // How the run ended, as the shared state holds it. Failure and counts
  // are final once poll has read a final state; the rollback's result
  // once waitForWorker has returned.
  InstallOutcome outcome();

  // Blocks until the worker has ended: after a failure, the rollback is
  // then complete. Returns at once when no worker runs.
  void waitForWorker();

 private:
  InstallProcessData& m_data;
  InstallThread& m_thread;
  std::atomic<bool> m_begun{false};
  bool m_stopRequested = false;
  bool m_cancelRequested = false;
  bool m_polled = false;
  InstallState m_last;
};

#endif  // QXR8_INSTALL_INSTALL_RUN_H_
