// The counting heap's statistics and its refusal of impossible sizes.
#include <malloc.h>

#include <new>

#include "memory/buffer_pool.h"
#include "stat_heap_fixture.h"

using vorn::MemoryStats;

TEST_F(StatHeapTest, AllocAndFreeLeaveCountersAsTheyWere) {
  vorn::memory_manager()->setStatEnabled(true);
  MemoryStats before = stats();
  void* block = vorn::g_heap->alloc(1);
  MemoryStats during = stats();
  size_t usable = malloc_usable_size(block);
  vorn::g_heap->free(block);
  MemoryStats after = stats();

  ASSERT_NE(block, nullptr);
  EXPECT_EQ(during.blocks - before.blocks, 1);
  // The byte count follows the usable size, which may exceed the request.
  EXPECT_EQ(during.bytes - before.bytes, static_cast<int64_t>(usable));
  EXPECT_GE(usable, 1u);
  EXPECT_EQ(after.blocks, before.blocks);
  EXPECT_EQ(after.bytes, before.bytes);
}

TEST_F(StatHeapTest, CountersStandStillWhileStatisticsAreOff) {
  MemoryStats before = stats();
  void* block = vorn::g_heap->alloc(100);
  MemoryStats during = stats();
  MemoryStats delta = {5, 500};
  vorn::memory_manager()->addStats(delta);
  MemoryStats afterAdd = stats();
  vorn::g_heap->free(block);

  EXPECT_EQ(during.blocks, before.blocks);
  EXPECT_EQ(during.bytes, before.bytes);
  EXPECT_EQ(afterAdd.blocks, before.blocks);
  EXPECT_EQ(afterAdd.bytes, before.bytes);
}

TEST_F(StatHeapTest, AddStatsAddsBothCountersWhileEnabled) {
  vorn::memory_manager()->setStatEnabled(true);
  MemoryStats before = stats();
  MemoryStats delta = {3, -700};
  vorn::memory_manager()->addStats(delta);
  MemoryStats after = stats();
  MemoryStats undo = {-3, 700};
  vorn::memory_manager()->addStats(undo);

  EXPECT_EQ(after.blocks - before.blocks, 3);
  EXPECT_EQ(after.bytes - before.bytes, -700);
}

TEST_F(StatHeapTest, FreeOfNullChangesNothing) {
  vorn::memory_manager()->setStatEnabled(true);
  MemoryStats before = stats();
  vorn::g_heap->free(nullptr);
  vorn::details::free(nullptr);
  MemoryStats after = stats();
  EXPECT_EQ(after.blocks, before.blocks);
  EXPECT_EQ(after.bytes, before.bytes);
}

TEST_F(StatHeapTest, PoolBuffersAreCountedByElementSize) {
  vorn::BufferPool pool(8192);
  void* warm = pool.alloc();  // the chunk now exists and stays
  vorn::memory_manager()->setStatEnabled(true);
  MemoryStats before = stats();
  void* buffer = pool.alloc();
  MemoryStats during = stats();
  pool.free(buffer);
  MemoryStats after = stats();
  vorn::memory_manager()->setStatEnabled(false);
  pool.free(warm);

  EXPECT_EQ(during.blocks - before.blocks, 1);
  EXPECT_EQ(during.bytes - before.bytes, 8192);
  EXPECT_EQ(after.blocks, before.blocks);
  EXPECT_EQ(after.bytes, before.bytes);
}

TEST_F(StatHeapTest, RefusedSizeThrowsBadAllocOrYieldsNull) {
  const size_t huge = refused_size();
  EXPECT_EQ(vorn::g_heap->alloc(huge), nullptr);
  EXPECT_EQ(vorn::details::alloc_nothrow(huge), nullptr);
  EXPECT_THROW(vorn::details::alloc(huge), std::bad_alloc);
  EXPECT_THROW(escape(new char[huge]), std::bad_alloc);
  EXPECT_THROW(escape(::operator new(huge)), std::bad_alloc);
  EXPECT_EQ(escape(new (std::nothrow) char[huge]), nullptr);
  EXPECT_EQ(::operator new(huge, std::nothrow), nullptr);
}

TEST_F(StatHeapTest, RefusedSizeLeavesCountersAlone) {
  vorn::memory_manager()->setStatEnabled(true);
  MemoryStats before = stats();
  void* block = vorn::g_heap->alloc(refused_size());
  MemoryStats after = stats();
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(after.blocks, before.blocks);
  EXPECT_EQ(after.bytes, before.bytes);
}

TEST(PlainHeap, ManagerIgnoresEverySetting) {
  vorn::MemoryManager<vorn::MemoryHeap<vorn::JEMalloc> > manager;
  manager.setStatEnabled(true);
  manager.setCallbacks([](size_t) { return false; }, [](size_t) {});
  vorn::IMemoryHeap* heap = manager.heap();
  void* block = heap->alloc(64);  // the check above must not apply
  MemoryStats s = {7, 7};
  manager.getStats(s);
  vorn::AllocCheckFn check = [](size_t) { return true; };
  vorn::FreeNotifyFn notify = [](size_t) {};
  manager.getCallbacks(&check, &notify);

  ASSERT_NE(block, nullptr);
  EXPECT_GE(heap->usableSize(block), 64u);
  heap->free(block);
  heap->free(nullptr);
  EXPECT_EQ(s.blocks, 0);
  EXPECT_EQ(s.bytes, 0);
  EXPECT_EQ(check, nullptr);
  EXPECT_EQ(notify, nullptr);
  EXPECT_EQ(heap->goodSize(1000), 1000u);
  EXPECT_EQ(manager.heap(), heap);
}
