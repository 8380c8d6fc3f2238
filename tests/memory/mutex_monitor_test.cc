// The mutex monitor: every misuse throws, correct use passes, and the
// per-thread reader sets come and go with the shared holds.
#include <pthread.h>

#include <unistd.h>

#include <future>
#include <new>
#include <thread>

#include "memory/mutex_monitor.h"
#include <gtest/gtest.h>

using vorn::DebugMonitorException;
using vorn::DebugMutexMonitor;

namespace {

// A real read-write lock whose operations are counted, so that a test can
// tell whether the monitor reached the real operation.
struct CountedLock {
  pthread_rwlock_t rw = PTHREAD_RWLOCK_INITIALIZER;
  int locks = 0, unlocks = 0, sharedLocks = 0, sharedUnlocks = 0;
};

void do_lock(void* m) {
  CountedLock* l = static_cast<CountedLock*>(m);
  pthread_rwlock_wrlock(&l->rw);
  ++l->locks;
}
void do_unlock(void* m) {
  CountedLock* l = static_cast<CountedLock*>(m);
  ++l->unlocks;
  pthread_rwlock_unlock(&l->rw);
}
void do_lock_shared(void* m) {
  CountedLock* l = static_cast<CountedLock*>(m);
  pthread_rwlock_rdlock(&l->rw);
  __atomic_add_fetch(&l->sharedLocks, 1, __ATOMIC_RELAXED);
}
void do_unlock_shared(void* m) {
  CountedLock* l = static_cast<CountedLock*>(m);
  __atomic_add_fetch(&l->sharedUnlocks, 1, __ATOMIC_RELAXED);
  pthread_rwlock_unlock(&l->rw);
}
// A broken mutex that excludes nobody: the monitor must notice the overlap.
void no_op(void*) {}

void* thread_set() { return pthread_getspecific(DebugMutexMonitor::s_slot); }

}  // namespace

TEST(MutexMonitor, CorrectUsePassesAndReachesTheRealLock) {
  CountedLock l;
  DebugMutexMonitor m;
  m.lock(&l, do_lock);
  m.unlock(&l, do_unlock);
  m.lockShared(&l, do_lock_shared);
  EXPECT_TRUE(m.hasThreadReader());
  m.unlockShared(&l, do_unlock_shared);
  EXPECT_FALSE(m.hasThreadReader());
  m.lock(&l, do_lock);
  m.unlock(&l, do_unlock);
  EXPECT_EQ(l.locks, 2);
  EXPECT_EQ(l.unlocks, 2);
  EXPECT_EQ(l.sharedLocks, 1);
  EXPECT_EQ(l.sharedUnlocks, 1);
}

TEST(MutexMonitor, RecursiveLockThrowsBeforeTheRealLock) {
  CountedLock l;
  DebugMutexMonitor m;
  m.lock(&l, do_lock);
  EXPECT_THROW(m.lock(&l, do_lock), DebugMonitorException);  // no deadlock
  EXPECT_THROW(m.lockShared(&l, do_lock_shared), DebugMonitorException);
  EXPECT_EQ(l.locks, 1);
  EXPECT_EQ(l.sharedLocks, 0);
  m.unlock(&l, do_unlock);
}

TEST(MutexMonitor, SecondSharedLockInOneThreadThrowsBeforeTheRealLock) {
  CountedLock l;
  DebugMutexMonitor m;
  m.lockShared(&l, do_lock_shared);
  EXPECT_THROW(m.lockShared(&l, do_lock_shared), DebugMonitorException);
  EXPECT_EQ(l.sharedLocks, 1);
  m.unlockShared(&l, do_unlock_shared);
}

TEST(MutexMonitor, ExclusiveLockWhileHoldingSharedThrows) {
  CountedLock l;
  DebugMutexMonitor m;
  m.lockShared(&l, do_lock_shared);
  EXPECT_THROW(m.lock(&l, do_lock), DebugMonitorException);
  EXPECT_THROW(m.unlock(&l, do_unlock), DebugMonitorException);
  EXPECT_EQ(l.locks, 0);
  EXPECT_EQ(l.unlocks, 0);
  m.unlockShared(&l, do_unlock_shared);
}

TEST(MutexMonitor, UnlockByAnotherThreadThrowsAndKeepsTheLock) {
  CountedLock l;
  DebugMutexMonitor m;
  m.lock(&l, do_lock);
  bool threw = false;
  int tryResult = 0;
  std::thread other([&] {
    try {
      m.unlock(&l, do_unlock);
    } catch (const DebugMonitorException&) {
      threw = true;
    }
    tryResult = pthread_rwlock_tryrdlock(&l.rw);
  });
  other.join();
  EXPECT_TRUE(threw);
  EXPECT_EQ(l.unlocks, 0);
  EXPECT_NE(tryResult, 0);  // the real lock is still held by this thread
  m.unlock(&l, do_unlock);  // the owner still can
}

TEST(MutexMonitor, UnlockWithoutLockThrows) {
  CountedLock l;
  DebugMutexMonitor m;
  EXPECT_THROW(m.unlock(&l, do_unlock), DebugMonitorException);
  EXPECT_EQ(l.unlocks, 0);
}

TEST(MutexMonitor, UnlockSharedWithoutSharedHoldThrows) {
  CountedLock l;
  DebugMutexMonitor m;
  EXPECT_THROW(m.unlockShared(&l, do_unlock_shared), DebugMonitorException);
  m.lock(&l, do_lock);  // a writer is checked first
  EXPECT_THROW(m.unlockShared(&l, do_unlock_shared), DebugMonitorException);
  EXPECT_EQ(l.sharedUnlocks, 0);
  m.unlock(&l, do_unlock);
}

// Two threads inside at once through a mutex that excludes nobody.
TEST(MutexMonitor, WriterWhileAnotherThreadReadsThrows) {
  DebugMutexMonitor m;
  std::promise<void> held, done;
  std::future<void> heldF = held.get_future(), doneF = done.get_future();
  std::thread reader([&] {
    m.lockShared(nullptr, no_op);
    held.set_value();
    doneF.wait();
    m.unlockShared(nullptr, no_op);
  });
  heldF.wait();
  EXPECT_THROW(m.lock(nullptr, no_op), DebugMonitorException);          // readers present
  EXPECT_THROW(m.unlock(nullptr, no_op), DebugMonitorException);        // readers present
  EXPECT_THROW(m.unlockShared(nullptr, no_op), DebugMonitorException);  // not this thread's hold
  EXPECT_FALSE(m.hasThreadReader());
  done.set_value();
  reader.join();
  m.lock(nullptr, no_op);  // nothing was left recorded by the failed calls
  m.unlock(nullptr, no_op);
}

TEST(MutexMonitor, ReaderOrSecondWriterWhileAnotherThreadWritesThrows) {
  DebugMutexMonitor m;
  m.lock(nullptr, no_op);
  bool readerThrew = false, writerThrew = false, readerRecorded = true;
  std::thread other([&] {
    try {
      m.lockShared(nullptr, no_op);
    } catch (const DebugMonitorException&) {
      readerThrew = true;
    }
    readerRecorded = m.hasThreadReader();
    try {
      m.lock(nullptr, no_op);
    } catch (const DebugMonitorException&) {
      writerThrew = true;
    }
  });
  other.join();
  EXPECT_TRUE(readerThrew);
  EXPECT_FALSE(readerRecorded);
  EXPECT_TRUE(writerThrew);
  m.unlock(nullptr, no_op);  // the first writer is still the recorded one
}

TEST(MutexMonitor, DestroyingAHeldMonitorThrows) {
  // Written into a buffer so that the dead monitor's address can be reused
  // to clean up the shared hold it leaves in this thread's set.
  alignas(DebugMutexMonitor) unsigned char storage[sizeof(DebugMutexMonitor)];
  DebugMutexMonitor* m = new (storage) DebugMutexMonitor();
  m->lockShared(nullptr, no_op);
  EXPECT_THROW(m->~DebugMutexMonitor(), DebugMonitorException);
  m = new (storage) DebugMutexMonitor();
  EXPECT_TRUE(m->hasThreadReader());
  m->clearThreadReader();
  EXPECT_EQ(thread_set(), nullptr);

  m->lock(nullptr, no_op);
  EXPECT_THROW(m->~DebugMutexMonitor(), DebugMonitorException);
  m = new (storage) DebugMutexMonitor();
  m->~DebugMutexMonitor();  // a free monitor goes quietly
}

TEST(MutexMonitor, DeleteOfAMonitorHeldSharedThrows) {
  // In a child that ends with _exit: the hold it leaves behind in the
  // thread's set cannot be cleaned once the monitor is freed.
  EXPECT_EXIT(
      {
        vorn::IMutexMonitor* m = new DebugMutexMonitor();
        m->lockShared(nullptr, no_op);
        try {
          vorn::delete_mutex_monitor(m);
        } catch (const DebugMonitorException&) {
          _exit(0);
        }
        _exit(1);
      },
      ::testing::ExitedWithCode(0), "");
  vorn::delete_mutex_monitor(nullptr);
  vorn::delete_mutex_monitor(new DebugMutexMonitor());
}

TEST(MutexMonitor, ThreadSetIsEmptiedAfterTheLastSharedRelease) {
  DebugMutexMonitor a, b, c;
  EXPECT_EQ(thread_set(), nullptr);
  a.lockShared(nullptr, no_op);
  void* set = thread_set();
  EXPECT_NE(set, nullptr);
  b.lockShared(nullptr, no_op);
  c.lockShared(nullptr, no_op);
  EXPECT_TRUE(a.hasThreadReader());
  EXPECT_TRUE(b.hasThreadReader());
  EXPECT_TRUE(c.hasThreadReader());

  b.unlockShared(nullptr, no_op);
  EXPECT_FALSE(b.hasThreadReader());
  EXPECT_TRUE(a.hasThreadReader());
  a.unlockShared(nullptr, no_op);
  EXPECT_NE(thread_set(), nullptr);
  EXPECT_TRUE(c.hasThreadReader());
  c.unlockShared(nullptr, no_op);
  EXPECT_EQ(thread_set(), nullptr);
  EXPECT_FALSE(a.hasThreadReader());
  EXPECT_FALSE(b.hasThreadReader());
  EXPECT_FALSE(c.hasThreadReader());
}

TEST(MutexMonitor, RecordingASharedHoldTwiceThrows) {
  DebugMutexMonitor m, other;
  m.setThreadReader();
  EXPECT_THROW(m.setThreadReader(), DebugMonitorException);
  other.clearThreadReader();  // not in the set: nothing changes
  EXPECT_TRUE(m.hasThreadReader());
  m.clearThreadReader();
  m.clearThreadReader();  // already gone: nothing changes
  EXPECT_EQ(thread_set(), nullptr);
}
