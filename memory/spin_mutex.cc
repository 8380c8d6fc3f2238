#include "memory/spin_mutex.h"

#include <sched.h>
#include <time.h>

namespace vorn {

namespace {

inline void cpu_pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield" ::: "memory");
#else
  std::atomic_signal_fence(std::memory_order_seq_cst);
#endif
}

void sleep_ns(long ns) {
  struct timespec t = {0, ns};
  nanosleep(&t, nullptr);
}

}  // namespace

// A short wait is cheapest while the holder is likely running on another
// core; a longer one stops a waiter from starving a holder that shares its
// core.
void SpinMutex::backOff(unsigned attempt) {
  if (attempt < 10) {
    cpu_pause();
  } else if (attempt < 20) {
    for (int i = 0; i < 50; ++i) cpu_pause();
  } else if (attempt < 22) {
    sched_yield();
  } else if (attempt < 24) {
    sleep_ns(0);
  } else if (attempt < 26) {
    sleep_ns(1000000);
  } else {
    sleep_ns(10000000);
  }
}

void SpinMutex::lock() {
  for (unsigned attempt = 0;; ++attempt) {
    // Reading first keeps waiters from bouncing the cache line with writes.
    if (m_word.load(std::memory_order_relaxed) == 0) {
      int32_t expected = 0;
      if (m_word.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                         std::memory_order_relaxed))
        return;
    }
    backOff(attempt);
    if (attempt > 26) attempt = 26;  // stay on the longest sleep, never wrap
  }
}

void SpinMutex::unlock() { m_word.fetch_sub(1, std::memory_order_release); }

}  // namespace vorn
