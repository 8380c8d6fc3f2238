#include "install/headless_install.h"

#include "install/installer.h"
#include "install/sleep.h"
#include "res/string_table.h"

HeadlessInstall::HeadlessInstall(KitReader& kitReader, const wstring& catalogDir)
    : kit(kitReader), catalog(catalogDir), succeeded(false) {}

HeadlessInstall::~HeadlessInstall() {
  if (!succeeded) thread.wait();
}

bool HeadlessInstall::updateProgress() {
  Installer installer;
  installer.run(&data);
  return false;
}

InstallOutcome HeadlessInstall::run(const ProgressCallback& progress, int pollMs,
                                    const InterruptCheck& interrupted) {
  data.setInstallState(0, LoadResString("IDS_PREPARECOPY"), 0);
  data.init(&kit, catalog);

  InstallOutcome outcome;
  const int startError = thread.start(this);
  if (startError != 0) {
    outcome.code = static_cast<unsigned>(startError);
    outcome.text = LoadResString("IDS_INSTALL_ERROR");
    outcome.failure.code = outcome.code;
    data.setInstallState(outcome.code, outcome.text, 0);
    if (progress) progress(outcome.code, outcome.text, 0);
    return outcome;
  }

  bool first = true;
  bool cancelRequested = false;
  unsigned lastCode = 0;
  wstring lastText;
  int lastPercent = 0;
  for (;;) {
    unsigned code = 0;
    wstring text;
    int percent = 0;
    data.getInstallState(code, text, percent);
    if (first || code != lastCode || percent != lastPercent || text != lastText) {
      if (progress) progress(code, text, percent);
      first = false;
      lastCode = code;
      lastText = text;
      lastPercent = percent;
    }
    if (code != 0 || percent >= 100) break;
    if (!cancelRequested && interrupted && interrupted()) {
      data.setCancel(true);
      cancelRequested = true;
    }
    Sleep(pollMs);
  }
  outcome.code = lastCode;
  outcome.text = lastText;
  outcome.percent = lastPercent;
  if (lastCode != 0) {
    // The failure is posted before the rollback: the catalog is only back
    // as it was once the worker has ended.
    thread.wait();
  } else {
    succeeded = true;
  }
  // Both were stored before the final state was posted.
  data.getFailure(outcome.failure);
  data.getStats(outcome.stats);
  data.getRollbackResult(outcome.catalogRestored, outcome.keptBackups);
  return outcome;
}

void HeadlessInstall::wait() { thread.wait(); }
