#include "install/install_process_data.h"

#include <cerrno>
#include <utility>

InstallProcessData::Guard::Guard(sem_t& sem) : m_sem(sem) {
  // A signal may interrupt the wait; only holding the lock ends it.
  while (sem_wait(&m_sem) != 0 && errno == EINTR) {
  }
}

InstallProcessData::Guard::~Guard() { sem_post(&m_sem); }

InstallProcessData::InstallProcessData()
    : kit(nullptr), cancelled(false), stateCode(0), percent(0), restored(true) {
  sem_init(&lock, 0, 1);
}

InstallProcessData::~InstallProcessData() { sem_destroy(&lock); }

void InstallProcessData::init(KitReader* newKit, const wstring& newTargetDir) {
  Guard guard(lock);
  kit = newKit;
  cancelled = false;
  failure = InstallFailure();
  stats = InstallStats();
  restored = true;
  keptBackups.clear();
  stateCode = 0;
  percent = 0;
  targetDir = newTargetDir;
  if (!targetDir.empty() && targetDir.back() != kPathSeparatorChar &&
      targetDir.back() != kBadPathSeparatorChar) {
    targetDir += kPathSeparator;
  }
}

void InstallProcessData::get(KitReader*& outKit, wstring& outTargetDir) {
  Guard guard(lock);
  outKit = kit;
  outTargetDir = targetDir;
}

void InstallProcessData::setCancel(bool value) {
  Guard guard(lock);
  cancelled = value;
}

bool InstallProcessData::isCancelled() {
  Guard guard(lock);
  return cancelled;
}

void InstallProcessData::setInstallState(unsigned code, const wstring& text, int newPercent,
                                         const InstallPosition& newPosition) {
  // Told before the state is visible: once a poller can see a final state,
  // its owner may destroy this object, so nothing of it is read after that.
  if (listener) listener(code, text, newPercent);
  Guard guard(lock);
  stateCode = code;
  stateText = text;
  percent = newPercent;
  position = newPosition;
}

void InstallProcessData::getInstallState(unsigned& code, wstring& text, int& outPercent) {
  InstallPosition ignored;
  getInstallState(code, text, outPercent, ignored);
}

void InstallProcessData::getInstallState(unsigned& code, wstring& text, int& outPercent,
                                         InstallPosition& outPosition) {
  Guard guard(lock);
  code = stateCode;
  text = stateText;
  outPercent = percent;
  outPosition = position;
}

void InstallProcessData::setFailure(const InstallFailure& value) {
  Guard guard(lock);
  failure = value;
}

void InstallProcessData::getFailure(InstallFailure& out) {
  Guard guard(lock);
  out = failure;
}

void InstallProcessData::setStats(const InstallStats& value) {
  Guard guard(lock);
  stats = value;
}

void InstallProcessData::getStats(InstallStats& out) {
  Guard guard(lock);
  out = stats;
}

void InstallProcessData::setRollbackResult(bool value, const wstring& backups) {
  Guard guard(lock);
  restored = value;
  keptBackups = backups;
}

void InstallProcessData::getRollbackResult(bool& value, wstring& backups) {
  Guard guard(lock);
  value = restored;
  backups = keptBackups;
}

void InstallProcessData::setStateListener(StateListener newListener) {
  listener = std::move(newListener);
}
