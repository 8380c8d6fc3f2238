// Tests of the process-wide counting heap: each starts and ends with
// statistics off and no hooks, so that tests cannot leak settings into one
// another.
#ifndef QXR8_TESTS_MEMORY_STAT_HEAP_FIXTURE_H_
#define QXR8_TESTS_MEMORY_STAT_HEAP_FIXTURE_H_

#include <gtest/gtest.h>

#include "memory/memory_manager.h"

class StatHeapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!dynamic_cast<vorn::StatMemoryHeap<vorn::JEMalloc>*>(vorn::g_heap))
      GTEST_SKIP() << "r8_dont_use_memory_stat is set: the plain heap is in use";
    reset();
  }
  void TearDown() override { reset(); }

  static void reset() {
    vorn::IMemoryManager* m = vorn::memory_manager();
    m->setStatEnabled(false);
    m->setCallbacks(nullptr, nullptr);
    m->setOutOfMemoryHandler(nullptr);
  }

  static vorn::MemoryStats stats() {
    vorn::MemoryStats s;
    vorn::memory_manager()->getStats(s);
    return s;
  }
};

// A size no malloc can satisfy; volatile so the compiler cannot see it.
inline size_t refused_size() {
  volatile size_t size = static_cast<size_t>(-1) / 2;
  return size;
}

// Makes `p` visible to code the compiler cannot see, so that a new/delete
// pair is not optimised away (the language allows eliding such pairs).
template <class T>
inline T* escape(T* p) {
  asm volatile("" : : "g"(p) : "memory");
  return p;
}

#endif  // QXR8_TESTS_MEMORY_STAT_HEAP_FIXTURE_H_
