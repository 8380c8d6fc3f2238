// A checker of read-write lock discipline.
#ifndef QXR8_MEMORY_MUTEX_MONITOR_H_
#define QXR8_MEMORY_MUTEX_MONITOR_H_

#include <pthread.h>

#include <atomic>
#include <cstdint>

namespace vorn {

// Thrown on every misuse of a monitored lock. Carries nothing.
class DebugMonitorException {};

// Performs the real operation on a mutex.
typedef void (*MutexFn)(void* mutex);

// Wraps the four operations of one read-write mutex: each checks the
// discipline, calls `fn(mutex)` for the real work and checks again.
class IMutexMonitor {
 public:
  // May throw: a monitor destroyed while held reports it.
  virtual ~IMutexMonitor() noexcept(false) {}
  virtual void lock(void* mutex, MutexFn fn) = 0;
  virtual void unlock(void* mutex, MutexFn fn) = 0;
  virtual void lockShared(void* mutex, MutexFn fn) = 0;
  virtual void unlockShared(void* mutex, MutexFn fn) = 0;
};

// The monitor that throws DebugMonitorException as soon as a thread takes a
// lock it already holds, releases one it does not hold, or finds a reader
// and a writer inside at once. Any thread may call any operation; exclusion
// comes from the real mutex. An error raised after the real lock was taken
// leaves that lock taken and the counters as they were.
class DebugMutexMonitor : public IMutexMonitor {
 public:
  enum Error {
    ReaderMismatch = 0,  // the thread's shared hold contradicts the operation
    ReadersPresent = 1,  // readers inside where none may be
    RecursiveLock = 2,   // the calling thread is already the writer
    WriterPresent = 3,   // a writer inside where none may be
    NotOwner = 4,        // unlock by a thread that is not the writer
  };

  DebugMutexMonitor() : m_readers(0), m_writer(0) {}
  // Throws when readers or a writer are still inside.
  ~DebugMutexMonitor() noexcept(false) override;

  void lock(void* mutex, MutexFn fn) override;
  void unlock(void* mutex, MutexFn fn) override;
  void lockShared(void* mutex, MutexFn fn) override;
  void unlockShared(void* mutex, MutexFn fn) override;

  // True when "r8_use_mutex_monitor" is in the environment, with any value.
  static bool useMonitors();
  // Reads the switch into s_use and creates the key s_slot (deleted at
  // exit). Called by a static initialiser of every program; later calls do
  // nothing. Not locked: runs before any other thread exists.
  static void startUp();

  // Whether the calling thread holds this monitor shared.
  bool hasThreadReader() const;
  // Records that the calling thread holds this monitor shared; raises
  // ReaderMismatch when that is already recorded.
  void setThreadReader();
  // Forgets the calling thread's shared hold of this monitor, if any; frees
  // the thread's set when it becomes empty.
  void clearThreadReader();
  [[noreturn]] static void raiseError(Error error);

  // Per-thread set of the monitors a thread holds shared (null: none).
  static pthread_key_t s_slot;
  static bool s_use;

 private:
  std::atomic<int32_t> m_readers;
  std::atomic<int32_t> m_writer;  // low 32 bits of the writer's pthread_self, 0: none
};

// Returns a new monitor (from the global new) when monitors are switched on,
// else null. The arguments are accepted for callers that name the mutex and
// its kind; they do not change the result.
IMutexMonitor* create_mutex_monitor(void* mutex, unsigned kind);
// Whether monitors are switched on in this process.
bool use_mutex_monitor();
// Destroys a monitor from create_mutex_monitor; null is ignored. Throws
// DebugMonitorException when the monitor is still held (it is freed anyway).
void delete_mutex_monitor(IMutexMonitor* monitor);

}  // namespace vorn

#endif  // QXR8_MEMORY_MUTEX_MONITOR_H_
