#include "install/install_process_data.h"

#include <cerrno>
#include <ctime>
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
  sem_init(&posted, 0, 0);
}

InstallProcessData::~InstallProcessData() {
  sem_destroy(&posted);
  sem_destroy(&lock);
}

void InstallProcessData::init(KitReader* newKit, const wstring& newTargetDir) {
  Guard guard(lock);
  kit = newKit;
  cancelled = false;
  failure = InstallFailure();
  stats = InstallStats();
  restored = true;
  keptBackups.clear();
  notes.clear();
  stateCode = 0;
  percent = 0;
  bytesWritten.store(0, std::memory_order_relaxed);
  bytesToWrite.store(0, std::memory_order_relaxed);
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
  // The poller is woken when there is something new to show, not for every
  // file: a new percentage, a failure, the end. It polls every few
  // milliseconds in any case, and then reads the latest file's name.
  const bool worthWaking = code != stateCode || newPercent != percent || code != 0 ||
                           newPercent >= 100 || newPosition.entries == 0;
  stateCode = code;
  stateText = text;
  percent = newPercent;
  position = newPosition;
  // Under the lock: a waiter woken by it can read the state only once the
  // lock is free, after which nothing here is touched but the lock.
  if (worthWaking) sem_post(&posted);
}

void InstallProcessData::waitForPost(int milliseconds) {
  // The wall clock, as sem_timedwait takes it: a clock step only makes one
  // wait longer or shorter, and every post ends it anyway.
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += milliseconds / 1000;
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  // A signal ends the wait too: the poller then looks at what it asked for.
  sem_timedwait(&posted, &deadline);
  // Posts made meanwhile are all seen by the next read of the state.
  while (sem_trywait(&posted) == 0) {
  }
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
  outPosition.bytesWritten = bytesWritten.load(std::memory_order_relaxed);
  outPosition.bytesToWrite = bytesToWrite.load(std::memory_order_relaxed);
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

void InstallProcessData::addNotes(const std::vector<wstring>& added) {
  if (added.empty()) return;
  Guard guard(lock);
  notes.insert(notes.end(), added.begin(), added.end());
}

void InstallProcessData::getNotes(std::vector<wstring>& out) {
  Guard guard(lock);
  out = notes;
}
