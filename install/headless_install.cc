#include "install/headless_install.h"

#include "res/string_table.h"

HeadlessInstall::HeadlessInstall(KitReader& kitReader, const wstring& catalogDir)
    : kit(kitReader), catalog(catalogDir), installRun(data, thread), succeeded(false) {}

HeadlessInstall::~HeadlessInstall() {
  if (!succeeded) thread.wait();
}

bool HeadlessInstall::updateProgress() {
  installRun.work();
  return false;
}

InstallOutcome HeadlessInstall::run(const ProgressCallback& progress, int pollMs,
                                    const InterruptCheck& interrupted) {
  data.setInstallState(0, LoadResString("IDS_PREPARECOPY"), 0);
  installRun.start(kit, catalog, *this);
  InstallState state;
  for (;;) {
    if (installRun.poll(state) && progress) progress(state);
    if (state.final()) break;
    if (interrupted && interrupted()) installRun.cancel();
    data.waitForPost(pollMs);
  }
  // The failure is posted before the rollback: the catalog is only back
  // as it was once the worker has ended.
  if (state.code != 0) {
    installRun.waitForWorker();
  } else {
    succeeded = true;
  }
  return installRun.outcome();
}

void HeadlessInstall::wait() { thread.wait(); }
