// The stack allocator over a buffer pool.
#include <cstdint>
#include <cstring>
#include <new>

#include "memory/buffer_pool.h"
#include "memory/memory_manager.h"
#include "memory/ob_stack.h"
#include <gtest/gtest.h>

using vorn::BufferPool;
using vorn::ObStack;

namespace {

char* at(void* p) { return static_cast<char*>(p); }

}  // namespace

TEST(ObStack, TakesOneBlockAtConstruction) {
  BufferPool pool(8192);
  {
    ObStack stack(&pool);
    EXPECT_EQ(pool.freeCount(), 509);
  }
  EXPECT_EQ(pool.freeCount(), 510);  // the destructor gave it back
}

TEST(ObStack, AllocationBumpsUpwardInStepsOfEight) {
  BufferPool pool(8192);
  ObStack stack(&pool);
  char* a = at(stack.alloc(1));
  char* b = at(stack.alloc(8));
  char* c = at(stack.alloc(9));
  char* d = at(stack.alloc(0));
  char* e = at(stack.alloc(3));
  EXPECT_EQ(b - a, 8);
  EXPECT_EQ(c - b, 8);
  EXPECT_EQ(d - c, 16);
  EXPECT_EQ(e, d);  // nothing consumed by an empty request
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 8, 0u);
}

TEST(ObStack, FullBlockMovesToTheStartOfANewOne) {
  BufferPool pool(8192);
  ObStack stack(&pool);
  char* first = at(stack.alloc(8000));
  char* tailFit = at(stack.alloc(192));  // exactly the rest of the block
  EXPECT_EQ(tailFit - first, 8000);
  char* second = at(stack.alloc(16));
  EXPECT_EQ(pool.freeCount(), 508);
  EXPECT_TRUE(second < first || second >= first + 8192);
  char* next = at(stack.alloc(16));
  EXPECT_EQ(next - second, 16);
  // Several more blocks make the block array grow more than once.
  for (int i = 0; i < 9; ++i) stack.alloc(8192);
  EXPECT_EQ(pool.freeCount(), 499);
}

TEST(ObStack, BigAllocationComesFromTheHeapAndLeavesTheBlockAlone) {
  BufferPool pool(8192);
  ObStack stack(&pool);
  char* a = at(stack.alloc(24));
  char* big = at(stack.alloc(8193));
  std::memset(big, 0x5A, 8193);
  char* b = at(stack.alloc(24));
  EXPECT_EQ(b - a, 24);  // still in the first block
  EXPECT_TRUE(big < a || big >= a + 8192);
  EXPECT_EQ(pool.freeCount(), 509);
  // More big allocations than the array first holds.
  for (int i = 0; i < 5; ++i) std::memset(stack.alloc(10000 + i), i, 10000);
  EXPECT_EQ(pool.freeCount(), 509);
}

TEST(ObStack, ClearFalseReusesTheFirstBlockAndKeepsTheRest) {
  const bool counting = dynamic_cast<vorn::StatMemoryHeap<vorn::JEMalloc>*>(vorn::g_heap) != nullptr;
  BufferPool pool(8192);
  vorn::memory_manager()->setStatEnabled(true);
  vorn::MemoryStats before;
  vorn::memory_manager()->getStats(before);
  {
    ObStack stack(&pool);
    char* start = at(stack.alloc(100));
    stack.alloc(8192);
    stack.alloc(8192);
    stack.alloc(50000);  // big
    stack.alloc(60000);  // big
    EXPECT_EQ(pool.freeCount(), 507);
    vorn::MemoryStats full;
    vorn::memory_manager()->getStats(full);

    stack.clear(false);
    vorn::MemoryStats cleared;
    vorn::memory_manager()->getStats(cleared);
    EXPECT_EQ(pool.freeCount(), 507);  // pool blocks kept
    if (counting) {
      EXPECT_EQ(full.blocks - cleared.blocks, 2);  // the two big ones
    }
    EXPECT_EQ(at(stack.alloc(5)), start);

    // The kept blocks are used again before any new one is taken.
    stack.alloc(8192);
    stack.alloc(8192);
    EXPECT_EQ(pool.freeCount(), 507);
    stack.alloc(8192);
    EXPECT_EQ(pool.freeCount(), 506);
  }
  vorn::MemoryStats after;
  vorn::memory_manager()->getStats(after);
  vorn::memory_manager()->setStatEnabled(false);
  EXPECT_EQ(pool.freeCount(), 510);
  // Only the pool's chunk, kept for reuse, remains counted.
  if (counting) {
    EXPECT_EQ(after.blocks - before.blocks, 1);
  }
}

TEST(ObStack, ClearTrueGivesEverythingBackAndStartsAfresh) {
  BufferPool pool(8192);
  ObStack stack(&pool);
  stack.alloc(8192);
  stack.alloc(8192);
  stack.alloc(9000);
  EXPECT_EQ(pool.freeCount(), 508);
  stack.clear(true);
  EXPECT_EQ(pool.freeCount(), 509);  // one fresh block
  char* a = at(stack.alloc(8));
  char* b = at(stack.alloc(8));
  EXPECT_EQ(b - a, 8);
}

TEST(ObStack, DestroyTwiceIsHarmless) {
  BufferPool pool(8192);
  ObStack stack(&pool);
  stack.alloc(9000);
  stack.destroy();
  EXPECT_EQ(pool.freeCount(), 510);
  stack.destroy();
  stack.init();
  EXPECT_EQ(pool.freeCount(), 509);
}

TEST(ObStack, RequestThatCannotBeRoundedIsRefused) {
  BufferPool pool(8192);
  ObStack stack(&pool);
  EXPECT_THROW(stack.alloc(SIZE_MAX), std::bad_alloc);
  EXPECT_THROW(stack.alloc(SIZE_MAX - 3), std::bad_alloc);
  char* a = at(stack.alloc(8));
  char* b = at(stack.alloc(8));
  EXPECT_EQ(b - a, 8);  // unharmed
}
