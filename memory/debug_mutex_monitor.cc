#include <cstdlib>

#include "memory/monitor_slot.h"
#include "memory/mutex_monitor.h"

namespace vorn {

pthread_key_t DebugMutexMonitor::s_slot;
bool DebugMutexMonitor::s_use = false;

namespace {

pthread_once_t g_slotOnce = PTHREAD_ONCE_INIT;

void delete_slot() { pthread_key_delete(DebugMutexMonitor::s_slot); }

void create_slot() {
  // No destructor: a thread that ends holding monitors shared keeps its set.
  if (pthread_key_create(&DebugMutexMonitor::s_slot, nullptr) != 0) std::abort();
  std::atexit(delete_slot);
}

int32_t current_thread_tag() {
  return static_cast<int32_t>(static_cast<uint32_t>(pthread_self()));
}

}  // namespace

bool DebugMutexMonitor::useMonitors() { return std::getenv("r8_use_mutex_monitor") != nullptr; }

void DebugMutexMonitor::startUp() {
  static bool started = false;
  if (started) return;
  started = true;
  s_use = useMonitors();
  pthread_once(&g_slotOnce, create_slot);
}

void DebugMutexMonitor::raiseError(Error) { throw DebugMonitorException(); }

DebugMutexMonitor::~DebugMutexMonitor() noexcept(false) {
  if (m_readers.load() != 0) raiseError(ReadersPresent);
  if (m_writer.load() != 0) raiseError(WriterPresent);
}

void DebugMutexMonitor::lock(void* mutex, MutexFn fn) {
  const int32_t self = current_thread_tag();
  if (m_writer.load() == self) raiseError(RecursiveLock);  // before fn: it would deadlock
  if (hasThreadReader()) raiseError(ReaderMismatch);
  fn(mutex);
  if (m_readers.load() != 0) raiseError(ReadersPresent);
  int32_t expected = 0;
  if (!m_writer.compare_exchange_strong(expected, self)) raiseError(WriterPresent);
}

void DebugMutexMonitor::unlock(void* mutex, MutexFn fn) {
  if (hasThreadReader()) raiseError(ReaderMismatch);
  if (m_readers.load() != 0) raiseError(ReadersPresent);
  int32_t expected = current_thread_tag();
  if (!m_writer.compare_exchange_strong(expected, 0)) raiseError(NotOwner);
  fn(mutex);
}

void DebugMutexMonitor::lockShared(void* mutex, MutexFn fn) {
  if (m_writer.load() == current_thread_tag()) raiseError(RecursiveLock);
  if (hasThreadReader()) raiseError(ReaderMismatch);
  fn(mutex);
  if (m_writer.load() != 0) raiseError(WriterPresent);
  m_readers.fetch_add(1);
  setThreadReader();
}

void DebugMutexMonitor::unlockShared(void* mutex, MutexFn fn) {
  if (m_writer.load() != 0) raiseError(WriterPresent);
  if (!hasThreadReader()) raiseError(ReaderMismatch);
  m_readers.fetch_sub(1);
  clearThreadReader();
  fn(mutex);
}

IMutexMonitor* create_mutex_monitor(void*, unsigned) {
  if (!DebugMutexMonitor::s_use) return nullptr;
  return new DebugMutexMonitor();
}

bool use_mutex_monitor() { return DebugMutexMonitor::s_use; }

void delete_mutex_monitor(IMutexMonitor* monitor) { delete monitor; }

// Lets the per-thread set reach the key even in a program whose static
// initialisers have not run yet (or that was linked without them).
pthread_key_t monitor_slot() {
  pthread_once(&g_slotOnce, create_slot);
  return DebugMutexMonitor::s_slot;
}

}  // namespace vorn
