// A spin lock with a growing back-off.
#ifndef QXR8_MEMORY_SPIN_MUTEX_H_
#define QXR8_MEMORY_SPIN_MUTEX_H_

#include <atomic>
#include <cstdint>

namespace vorn {

// One 32-bit word, 0 when free and 1 when held. Not recursive and without an
// owner check: only the holder may unlock. Any thread.
class SpinMutex {
 public:
  SpinMutex() : m_word(0) {}
  SpinMutex(const SpinMutex&) = delete;
  SpinMutex& operator=(const SpinMutex&) = delete;

  // Returns once the calling thread holds the lock. Spins briefly, then
  // yields, then sleeps longer and longer while the lock stays taken.
  void lock();
  // Releases a lock held by the calling thread.
  void unlock();

 private:
  static void backOff(unsigned attempt);

  std::atomic<int32_t> m_word;
};

// Holds a SpinMutex for the life of the guard.
class SpinLockGuard {
 public:
  explicit SpinLockGuard(SpinMutex& mutex) : m_mutex(mutex) { m_mutex.lock(); }
  ~SpinLockGuard() { m_mutex.unlock(); }
  SpinLockGuard(const SpinLockGuard&) = delete;
  SpinLockGuard& operator=(const SpinLockGuard&) = delete;

 private:
  SpinMutex& m_mutex;
};

}  // namespace vorn

#endif  // QXR8_MEMORY_SPIN_MUTEX_H_
