// An installation without the wizard, run the way the wizard runs it: the
// worker thread performs the run over an InstallProcessData while the
// calling thread polls the posted state. For the kit tool and for tests.
//
// One object serves one run; the calling thread owns it and is the only one
// that calls it.
#ifndef QXR8_INSTALL_HEADLESS_INSTALL_H_
#define QXR8_INSTALL_HEADLESS_INSTALL_H_

#include <functional>

#include "install/install_data.h"
#include "install/install_failure.h"
#include "install/install_process_data.h"
#include "install/install_thread.h"
#include "platform/wstring.h"

// The final posted state of a run.
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
};

class HeadlessInstall : private IInstallWorker {
 public:
  // Called on the polling thread for every state the poll sees change.
  using ProgressCallback = std::function<void(unsigned code, const wstring& text, int percent)>;
  // Asked on the polling thread at every poll; true once asks the run to
  // stop (a cancel request: the run rolls back after the next file it
  // writes and ends with 1223, or completes if nothing is left to write).
  using InterruptCheck = std::function<bool()>;

  // `kit` is an opened reader that must outlive the run; `catalog` the
  // templates catalog directory.
  HeadlessInstall(KitReader& kit, const wstring& catalog);
  // Waits for the worker unless the run ended in a posted success, after
  // which the worker touches nothing of this object any more.
  ~HeadlessInstall();
  HeadlessInstall(const HeadlessInstall&) = delete;
  HeadlessInstall& operator=(const HeadlessInstall&) = delete;

  // Posts the "IDS_PREPARECOPY" state, arms the shared state, starts the
  // worker and polls every `pollMs` milliseconds until a nonzero code or
  // 100 % is posted, reporting changes to `progress` (may be empty). After
  // a failure (or a cancel) it waits until the worker has finished its
  // rollback; after a success it returns at once. A worker that cannot be
  // started gives the thread error as the code with the "IDS_INSTALL_ERROR"
  // text. `interrupted` (may be empty) is asked at every poll. Call once.
  InstallOutcome run(const ProgressCallback& progress, int pollMs = 10,
                     const InterruptCheck& interrupted = {});

  // Blocks until the worker has ended (also its pause after a success).
  void wait();

  // The shared state of the run: a test may set a listener or a cancel
  // request on it.
  InstallProcessData& processData() { return data; }

 private:
  bool updateProgress() override;

  KitReader& kit;
  wstring catalog;
  InstallProcessData data;
  InstallThread thread;
  bool succeeded;
};

#endif  // QXR8_INSTALL_HEADLESS_INSTALL_H_
