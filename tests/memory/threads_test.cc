// Several threads at once on one pool, one spin lock, the heap counters and
// one monitored read-write lock. Also built with ThreadSanitizer.
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "memory/buffer_pool.h"
#include "memory/memory_manager.h"
#include "memory/mutex_monitor.h"
#include "memory/spin_mutex.h"
#include <gtest/gtest.h>

namespace {

const int kThreads = 4;

// A small generator per thread, so that the threads do not share state.
struct Lcg {
  uint32_t state;
  uint32_t next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
};

template <class Fn>
void run_threads(Fn fn) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(fn, t);
  for (std::thread& th : threads) th.join();
}

}  // namespace

TEST(Threads, PoolSharedByManyThreadsHandsEachSlotToOneOwner) {
  vorn::BufferPool pool(8192);
  std::atomic<int> corrupted(0);
  run_threads([&](int id) {
    Lcg rng{static_cast<uint32_t>(id) * 7919u + 1u};
    std::vector<uint64_t*> held;
    for (int op = 0; op < 3000; ++op) {
      // Each thread holds up to 400 buffers, so together they need more
      // than one chunk and chunks are added and returned while others work.
      bool allocate = held.empty() || (held.size() < 400 && rng.next() % 3 != 0);
      if (allocate) {
        uint64_t* b = static_cast<uint64_t*>(pool.alloc());
        uint64_t tag = (static_cast<uint64_t>(id) << 32) | static_cast<uint32_t>(op);
        b[0] = tag;
        b[8192 / 8 - 1] = ~tag;
        held.push_back(b);
      } else {
        size_t i = rng.next() % held.size();
        uint64_t* b = held[i];
        if (b[0] >> 32 != static_cast<uint64_t>(id) || b[8192 / 8 - 1] != ~b[0]) ++corrupted;
        held[i] = held.back();
        held.pop_back();
        pool.free(b);
      }
    }
    for (uint64_t* b : held) pool.free(b);
  });
  EXPECT_EQ(corrupted.load(), 0);
  // With every slot back, exactly one empty chunk is kept as the reserve.
  EXPECT_EQ(pool.chunkCount(), 1);
  EXPECT_EQ(pool.freeCount(), 510);
}

TEST(Threads, SpinMutexExcludesTheOtherThreads) {
  vorn::SpinMutex mutex;
  long counter = 0;  // plain on purpose: only the lock protects it
  int inside = 0;
  std::atomic<int> overlaps(0);
  run_threads([&](int) {
    for (int i = 0; i < 20000; ++i) {
      vorn::SpinLockGuard guard(mutex);
      if (++inside != 1) ++overlaps;
      ++counter;
      --inside;
    }
  });
  EXPECT_EQ(counter, 20000L * kThreads);
  EXPECT_EQ(overlaps.load(), 0);
}

TEST(Threads, HeapCountersBalanceUnderConcurrentUse) {
  vorn::IMemoryManager* manager = vorn::memory_manager();
  if (!dynamic_cast<vorn::StatMemoryHeap<vorn::JEMalloc>*>(vorn::g_heap))
    GTEST_SKIP() << "the plain heap is in use";
  manager->setStatEnabled(true);
  vorn::MemoryStats before;
  manager->getStats(before);
  run_threads([](int id) {
    std::vector<char*> blocks;
    for (int i = 0; i < 2000; ++i) {
      blocks.push_back(new char[16 + (i * 37 + id) % 700]);
      if (i % 3 == 2) {
        delete[] blocks.front();
        blocks.erase(blocks.begin());
      }
    }
    for (char* b : blocks) delete[] b;
  });
  vorn::MemoryStats after;
  manager->getStats(after);
  manager->setStatEnabled(false);
  EXPECT_EQ(after.blocks, before.blocks);
  EXPECT_EQ(after.bytes, before.bytes);
}

namespace {

void rd_lock(void* m) { pthread_rwlock_rdlock(static_cast<pthread_rwlock_t*>(m)); }
void wr_lock(void* m) { pthread_rwlock_wrlock(static_cast<pthread_rwlock_t*>(m)); }
void rw_unlock(void* m) { pthread_rwlock_unlock(static_cast<pthread_rwlock_t*>(m)); }

}  // namespace

TEST(Threads, MonitoredLockUsedCorrectlyByReadersAndWritersNeverThrows) {
  pthread_rwlock_t rw = PTHREAD_RWLOCK_INITIALIZER;
  vorn::DebugMutexMonitor monitor;
  std::atomic<int> errors(0), setsLeft(0);
  long shared = 0;
  run_threads([&](int id) {
    for (int i = 0; i < 1500; ++i) {
      try {
        if (id == 0 && i % 4 == 0) {
          monitor.lock(&rw, wr_lock);
          ++shared;
          monitor.unlock(&rw, rw_unlock);
        } else {
          monitor.lockShared(&rw, rd_lock);
          volatile long seen = shared;
          (void)seen;
          monitor.unlockShared(&rw, rw_unlock);
        }
      } catch (const vorn::DebugMonitorException&) {
        ++errors;
      }
    }
    if (pthread_getspecific(vorn::DebugMutexMonitor::s_slot)) ++setsLeft;
  });
  EXPECT_EQ(errors.load(), 0);
  EXPECT_EQ(setsLeft.load(), 0);
  EXPECT_EQ(shared, 375);
  pthread_rwlock_destroy(&rw);
}
