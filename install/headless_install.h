// An installation without the wizard, through the same run life cycle
// (install_run.h): the worker thread performs the run while the calling
// thread polls the posted state. For the kit tool and for tests.
//
// One object serves one run; the calling thread owns it and is the only one
// that calls it.
#ifndef QXR8_INSTALL_HEADLESS_INSTALL_H_
#define QXR8_INSTALL_HEADLESS_INSTALL_H_

#include <functional>

#include "install/install_data.h"
#include "install/install_process_data.h"
#include "install/install_run.h"
#include "install/install_thread.h"
#include "platform/wstring.h"

class HeadlessInstall : private IInstallWorker {
 public:
  // Called on the polling thread for every state the poll sees change.
  using ProgressCallback = std::function<void(const InstallState& state)>;
  // Asked on the polling thread at every poll; true once cancels the run
  // (InstallRun::cancel).
  using InterruptCheck = std::function<bool()>;

  // `kit` is an opened reader that must outlive the run; `catalog` the
  // templates catalog directory.
  HeadlessInstall(KitReader& kit, const wstring& catalog);
  // Waits for the worker unless the run ended in a posted success, after
  // which the worker touches nothing of this object any more.
  ~HeadlessInstall();
  HeadlessInstall(const HeadlessInstall&) = delete;
  HeadlessInstall& operator=(const HeadlessInstall&) = delete;

  // Posts the "IDS_PREPARECOPY" state, starts the run and polls after each
  // posted state and at least every `pollMs` milliseconds until it ends, so
  // the run's end is seen at once, reporting changes to `progress`
  // (may be empty) and asking `interrupted` (may be empty) at every poll.
  // After a failure (or a cancel) it waits until the worker has finished
  // its rollback; after a success it returns at once. Call once.
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
  InstallRun installRun;
  bool succeeded;
};

#endif  // QXR8_INSTALL_HEADLESS_INSTALL_H_
