// Buffer pools: chunk layout, counts, ordering and the return of chunks.
#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include <vector>

#include "memory/buffer_pool.h"
#include "memory/memory_manager.h"
#include "memory/spin_mutex.h"
#include <gtest/gtest.h>

using vorn::BufferPool;

namespace {

std::vector<void*> take(BufferPool& pool, int n) {
  std::vector<void*> out;
  for (int i = 0; i < n; ++i) out.push_back(pool.alloc());
  return out;
}

void give_back(BufferPool& pool, std::vector<void*>& buffers) {
  for (void* b : buffers) pool.free(b);
  buffers.clear();
}

}  // namespace

TEST(BufferPool, StartUpPoolsHaveTheStandardSizes) {
  BufferPool* pools = vorn::buffer_pools();
  ASSERT_NE(pools, nullptr);
  const size_t sizes[] = {8192, 16384, 32768, 262144};
  const int perChunk[] = {510, 255, 127, 15};
  for (int i = 0; i < vorn::kPoolCount; ++i) {
    EXPECT_EQ(pools[i].elementSize(), sizes[i]);
    EXPECT_EQ(pools[i].elementsPerChunk(), perChunk[i]);
  }
}

TEST(BufferPool, FirstAllocationOfPoolZeroAddsOneChunk) {
  BufferPool& pool = vorn::buffer_pools()[0];
  ASSERT_EQ(pool.chunkCount(), 0) << "nothing in this program uses the pools";
  EXPECT_EQ(pool.freeCount(), 0);
  void* buffer = pool.alloc();
  EXPECT_EQ(pool.chunkCount(), 1);
  EXPECT_EQ(pool.freeCount(), 509);
  pool.free(buffer);
  EXPECT_EQ(pool.freeCount(), 510);
  EXPECT_EQ(pool.chunkCount(), 1);  // a single empty chunk is kept
}

TEST(BufferPool, SlotsFollowEachOtherInsideTheChunk) {
  BufferPool pool(8192);
  std::vector<void*> buffers = take(pool, 510);
  char* first = static_cast<char*>(buffers[0]);
  // Slots are handed out in ascending address order, 16 header bytes apart.
  for (size_t i = 1; i < buffers.size(); ++i)
    ASSERT_EQ(static_cast<char*>(buffers[i]) - first, static_cast<ptrdiff_t>(i * (8192 + 16)));
  // The chunk begins 48 header bytes and one slot header before the first payload.
  BufferPool::Slot* slot = reinterpret_cast<BufferPool::Slot*>(first - 16);
  EXPECT_EQ(reinterpret_cast<char*>(slot->chunk), first - 16 - 48);
  EXPECT_EQ(pool.freeCount(), 0);
  EXPECT_EQ(pool.chunkCount(), 1);
  // Every payload is usable in full: the last one ends inside the chunk.
  char* chunk = reinterpret_cast<char*>(slot->chunk);
  EXPECT_LE(static_cast<char*>(buffers.back()) + 8192, chunk + BufferPool::kChunkSize);
  for (void* b : buffers) std::memset(b, 0xA5, 8192);
  give_back(pool, buffers);
}

TEST(BufferPool, FullChunkLeadsToASecond) {
  BufferPool pool(8192);
  std::vector<void*> buffers = take(pool, 511);
  EXPECT_EQ(pool.chunkCount(), 2);
  EXPECT_EQ(pool.freeCount(), 509);
  std::set<void*> distinct(buffers.begin(), buffers.end());
  EXPECT_EQ(distinct.size(), buffers.size());
  give_back(pool, buffers);
}

TEST(BufferPool, EmptyChunkIsKeptBelowTwoChunksOfFreeSlots) {
  BufferPool pool(8192);
  std::vector<void*> first = take(pool, 510);
  std::vector<void*> second = take(pool, 510);
  const std::set<void*> firstChunk(first.begin(), first.end());
  ASSERT_EQ(pool.chunkCount(), 2);
  ASSERT_EQ(pool.freeCount(), 0);

  give_back(pool, first);  // 510 free < 1020: the emptied chunk stays
  EXPECT_EQ(pool.chunkCount(), 2);
  EXPECT_EQ(pool.freeCount(), 510);

  for (int i = 0; i < 509; ++i) pool.free(second[i]);
  EXPECT_EQ(pool.chunkCount(), 2);
  EXPECT_EQ(pool.freeCount(), 1019);
  pool.free(second[509]);  // 1020 free: the chunk that became empty goes
  EXPECT_EQ(pool.chunkCount(), 1);
  EXPECT_EQ(pool.freeCount(), 510);

  // What remains is the first chunk, still whole and usable.
  std::vector<void*> again = take(pool, 510);
  EXPECT_EQ(pool.chunkCount(), 1);
  EXPECT_EQ(std::set<void*>(again.begin(), again.end()), firstChunk);
  give_back(pool, again);
}

TEST(BufferPool, ReleasesPreferTheLowestChunk) {
  BufferPool pool(262144);  // 15 slots per chunk
  std::vector<void*> a = take(pool, 15);
  std::vector<void*> b = take(pool, 15);
  std::vector<void*>& low = a[0] < b[0] ? a : b;
  std::vector<void*>& high = a[0] < b[0] ? b : a;

  // The high chunk regains a slot first, then the low one; allocation must
  // still take from the low chunk first.
  pool.free(high[3]);
  pool.free(low[7]);
  void* next = pool.alloc();
  void* after = pool.alloc();
  EXPECT_EQ(next, low[7]);
  EXPECT_EQ(after, high[3]);
  low[7] = next;
  high[3] = after;

  // Same with a third chunk placed in the middle of the free list.
  std::vector<void*> c = take(pool, 15);
  std::vector<std::vector<void*>*> all = {&a, &b, &c};
  std::sort(all.begin(), all.end(),
            [](std::vector<void*>* x, std::vector<void*>* y) { return (*x)[0] < (*y)[0]; });
  pool.free((*all[2])[0]);
  pool.free((*all[0])[0]);
  pool.free((*all[1])[0]);
  EXPECT_EQ(pool.alloc(), (*all[0])[0]);
  EXPECT_EQ(pool.alloc(), (*all[1])[0]);
  EXPECT_EQ(pool.alloc(), (*all[2])[0]);
  give_back(pool, a);
  give_back(pool, b);
  give_back(pool, c);
  EXPECT_EQ(pool.freeCount(), 15);
  EXPECT_EQ(pool.chunkCount(), 1);
}

TEST(BufferPool, FreedSlotIsReusedFirst) {
  BufferPool pool(32768);
  void* x = pool.alloc();
  void* y = pool.alloc();
  pool.free(x);
  EXPECT_EQ(pool.alloc(), x);
  pool.free(x);
  pool.free(y);
  pool.free(nullptr);  // ignored
  EXPECT_EQ(pool.freeCount(), 127);
}

TEST(BufferPool, ElementTooLargeForAChunkIsRefused) {
  BufferPool pool(BufferPool::kChunkSize);
  EXPECT_EQ(pool.elementsPerChunk(), 0);
  EXPECT_THROW(pool.alloc(), std::bad_alloc);
  EXPECT_EQ(pool.chunkCount(), 0);
}

TEST(BufferPool, ElementFillingTheChunkExactlyGetsItsOneSlot) {
  // 48 + 16 + element == 4 MiB: the only slot ends flush with the chunk.
  BufferPool pool(BufferPool::kChunkSize - 48 - 16);
  ASSERT_EQ(pool.elementsPerChunk(), 1);
  void* buffer = pool.alloc();
  EXPECT_EQ(pool.freeCount(), 0);
  std::memset(buffer, 1, pool.elementSize());
  pool.free(buffer);
  EXPECT_EQ(pool.freeCount(), 1);
}

TEST(BufferPool, DestructorReturnsChunksStillInUse) {
  // Leak checking in the sanitizer build turns a lost chunk into a failure.
  BufferPool* pool = new BufferPool(16384);
  take(*pool, 300);
  EXPECT_EQ(pool->chunkCount(), 2);
  delete pool;
}

TEST(SpinMutex, LocksAndUnlocks) {
  vorn::SpinMutex m;
  m.lock();
  m.unlock();
  {
    vorn::SpinLockGuard guard(m);
  }
  m.lock();  // free again after the guard: would spin forever otherwise
  m.unlock();
}
