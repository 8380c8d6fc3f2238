// The counting heap's allocation check, release notification and
// out-of-memory handler.
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <new>

#include "memory/buffer_pool.h"
#include "memory/ob_stack.h"
#include "stat_heap_fixture.h"

namespace {

size_t g_checked;
size_t g_released;
int g_checks;
int g_releases;
int g_outOfMemoryCalls;

bool accept_and_record(size_t usable) {
  ++g_checks;
  g_checked = usable;
  return true;
}
bool refuse_all(size_t) { return false; }
void record_release(size_t usable) {
  ++g_releases;
  g_released = usable;
}
void count_out_of_memory() { ++g_outOfMemoryCalls; }

// An address-space limit that the handler lifts again, so that only the
// retry after the handler can succeed.
struct rlimit g_savedAddressSpace;
void lift_address_space_limit() {
  ++g_outOfMemoryCalls;
  setrlimit(RLIMIT_AS, &g_savedAddressSpace);
}

// Bytes of address space the process uses now; 0 when unknown.
size_t address_space_in_use() {
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm) return 0;
  unsigned long pages = 0;
  int got = std::fscanf(statm, "%lu", &pages);
  std::fclose(statm);
  return got == 1 ? pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const bool kSanitized = true;  // their shadow memory does not fit under a limit
#else
const bool kSanitized = false;
#endif

}  // namespace

TEST_F(StatHeapTest, CheckAndNotificationSeeTheUsableSize) {
  g_checks = g_releases = 0;
  vorn::memory_manager()->setCallbacks(accept_and_record, record_release);
  void* block = vorn::g_heap->alloc(10);
  size_t usable = block ? malloc_usable_size(block) : 0;
  vorn::g_heap->free(block);
  StatHeapTest::reset();

  ASSERT_NE(block, nullptr);
  EXPECT_EQ(g_checks, 1);
  EXPECT_EQ(g_checked, usable);
  EXPECT_GE(usable, 10u);
  EXPECT_EQ(g_releases, 1);
  EXPECT_EQ(g_released, usable);
}

TEST_F(StatHeapTest, GetCallbacksReturnsWhatWasSet) {
  vorn::memory_manager()->setCallbacks(refuse_all, record_release);
  vorn::AllocCheckFn check = nullptr;
  vorn::FreeNotifyFn notify = nullptr;
  vorn::memory_manager()->getCallbacks(&check, &notify);
  vorn::memory_manager()->getCallbacks(nullptr, nullptr);  // both outputs optional
  StatHeapTest::reset();
  EXPECT_EQ(check, &refuse_all);
  EXPECT_EQ(notify, &record_release);
}

// Nothing may allocate through gtest while the check refuses everything, so
// the results are gathered first and checked after the hook is removed.
TEST_F(StatHeapTest, CheckThatRefusesEverythingStopsEveryAllocation) {
  vorn::BufferPool pool(8192);
  vorn::memory_manager()->setStatEnabled(true);
  vorn::MemoryStats before = stats();
  vorn::memory_manager()->setCallbacks(refuse_all, nullptr);

  void* heapBlock = vorn::g_heap->alloc(16);
  void* nothrowBlock = vorn::details::alloc_nothrow(16);
  void* nothrowNew = escape(new (std::nothrow) int);
  bool detailsThrew = false, newThrew = false, arrayThrew = false, poolThrew = false,
       obstackThrew = false;
  try {
    vorn::details::alloc(16);
  } catch (const std::bad_alloc&) {
    detailsThrew = true;
  }
  try {
    delete escape(new int(1));
  } catch (const std::bad_alloc&) {
    newThrew = true;
  }
  try {
    delete[] escape(new char[3]);
  } catch (const std::bad_alloc&) {
    arrayThrew = true;
  }
  try {
    pool.free(pool.alloc());
  } catch (const std::bad_alloc&) {
    poolThrew = true;
  }
  try {
    vorn::ObStack stack(&pool);
  } catch (const std::bad_alloc&) {
    obstackThrew = true;
  }
  int chunks = pool.chunkCount();
  vorn::MemoryStats after = stats();
  StatHeapTest::reset();

  EXPECT_EQ(heapBlock, nullptr);
  EXPECT_EQ(nothrowBlock, nullptr);
  EXPECT_EQ(nothrowNew, nullptr);
  EXPECT_TRUE(detailsThrew);
  EXPECT_TRUE(newThrew);
  EXPECT_TRUE(arrayThrew);
  EXPECT_TRUE(poolThrew);
  EXPECT_TRUE(obstackThrew);
  EXPECT_EQ(chunks, 0);  // refused before any chunk was taken
  // A refused block is given back uncounted.
  EXPECT_EQ(after.blocks, before.blocks);
  EXPECT_EQ(after.bytes, before.bytes);
}

TEST_F(StatHeapTest, PoolConsultsCheckWithElementSizeAndNotifiesRelease) {
  vorn::BufferPool pool(16384);
  g_checks = g_releases = 0;
  vorn::memory_manager()->setCallbacks(accept_and_record, record_release);
  void* buffer = pool.alloc();
  int checksAfterAlloc = g_checks;
  size_t lastChecked = g_checked;
  pool.free(buffer);
  int releases = g_releases;
  size_t released = g_released;
  StatHeapTest::reset();

  // One check for the element, one by the heap for the new 4 MiB chunk.
  EXPECT_EQ(checksAfterAlloc, 2);
  EXPECT_GE(lastChecked, vorn::BufferPool::kChunkSize);
  EXPECT_EQ(releases, 1);  // the chunk stays: only the element is released
  EXPECT_EQ(released, 16384u);
}

TEST_F(StatHeapTest, OutOfMemoryHandlerGetsExactlyOneChance) {
  g_outOfMemoryCalls = 0;
  vorn::memory_manager()->setOutOfMemoryHandler(count_out_of_memory);
  void* block = vorn::g_heap->alloc(refused_size());
  int callsAfterFailure = g_outOfMemoryCalls;
  void* ok = vorn::g_heap->alloc(32);
  int callsAfterSuccess = g_outOfMemoryCalls;
  vorn::g_heap->free(ok);

  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(callsAfterFailure, 1);
  EXPECT_NE(ok, nullptr);
  EXPECT_EQ(callsAfterSuccess, 1);  // not called when malloc succeeds
}

TEST_F(StatHeapTest, OutOfMemoryHandlerIsFollowedByOneRetry) {
  if (kSanitized) GTEST_SKIP() << "a sanitizer's shadow memory needs the whole address space";
  const size_t inUse = address_space_in_use();
  ASSERT_GT(inUse, 0u);
  ASSERT_EQ(getrlimit(RLIMIT_AS, &g_savedAddressSpace), 0);
  const size_t request = 256u << 20;
  struct rlimit tight = g_savedAddressSpace;
  tight.rlim_cur = inUse + (16u << 20);
  g_outOfMemoryCalls = 0;
  vorn::memory_manager()->setOutOfMemoryHandler(lift_address_space_limit);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
  void* block = vorn::g_heap->alloc(request);
  setrlimit(RLIMIT_AS, &g_savedAddressSpace);  // in case the handler never ran
  int calls = g_outOfMemoryCalls;
  StatHeapTest::reset();
  vorn::g_heap->free(block);

  EXPECT_EQ(calls, 1);
  EXPECT_NE(block, nullptr);  // the retry after the handler got the memory
}

TEST_F(StatHeapTest, RefusalByTheCheckIsNotOutOfMemory) {
  g_outOfMemoryCalls = 0;
  vorn::memory_manager()->setOutOfMemoryHandler(count_out_of_memory);
  vorn::memory_manager()->setCallbacks(refuse_all, nullptr);
  void* block = vorn::g_heap->alloc(64);
  StatHeapTest::reset();
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(g_outOfMemoryCalls, 0);
}

TEST_F(StatHeapTest, GoodSizeAndUsableSize) {
  void* block = vorn::g_heap->alloc(40);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(vorn::g_heap->usableSize(block), malloc_usable_size(block));
  vorn::g_heap->free(block);
  EXPECT_EQ(vorn::g_heap->goodSize(40), 40u);
  EXPECT_EQ(vorn::g_heap->goodSize(0), 0u);
}
