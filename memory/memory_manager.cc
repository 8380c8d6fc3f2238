#include "memory/memory_manager.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "memory/buffer_pool.h"

namespace vorn {

const size_t kPoolElementSizes[kPoolCount] = {8192, 16384, 32768, 262144};

// Constant-initialised, so they read null even in constructors that run
// before this file's own static initialisation.
IMemoryManager* g_manager = nullptr;
IMemoryHeap* g_heap = nullptr;
BufferPool* g_pools = nullptr;

namespace {

typedef MemoryManager<MemoryHeap<JEMalloc> > PlainManager;
typedef MemoryManager<StatMemoryHeap<JEMalloc> > StatManager;

// Builds a manager of type M in memory taken from malloc: the heap cannot
// serve its own manager, and the object is never destroyed.
template <class M>
IMemoryManager* make_manager() {
  void* raw = std::malloc(sizeof(M));
  if (!raw) std::abort();  // without a manager no allocation can succeed
  return new (raw) M();
}

BufferPool* make_pools() {
  void* raw = std::malloc(sizeof(BufferPool) * kPoolCount);
  if (!raw) return nullptr;
  std::memset(raw, 0, sizeof(BufferPool) * kPoolCount);
  BufferPool* pools = static_cast<BufferPool*>(raw);
  for (int i = 0; i < kPoolCount; ++i) new (&pools[i]) BufferPool(kPoolElementSizes[i]);
  return pools;
}

}  // namespace

IMemoryManager* memory_manager() {
  if (!g_manager) create_memory_manager();
  return g_manager;
}

BufferPool* buffer_pools() { return g_pools; }

namespace details {

void* alloc(size_t size) {
  IMemoryHeap* heap = g_heap;
  if (!heap) {
    create_memory_manager();
    heap = g_heap;
  }
  void* block = heap->alloc(size);
  if (!block) throw std::bad_alloc();
  return block;
}

void* alloc_nothrow(size_t size) { return g_heap->alloc(size); }

void free(void* block) {
  IMemoryHeap* heap = g_heap;
  if (!heap) {
    create_memory_manager();
    heap = g_heap;
  }
  heap->free(block);
}

}  // namespace details

}  // namespace vorn

extern "C" void create_memory_manager() {
  using namespace vorn;
  if (g_manager) return;
  // Presence alone selects the plain heap: an empty value counts as set.
  IMemoryManager* manager = std::getenv("r8_dont_use_memory_stat")
                                ? make_manager<PlainManager>()
                                : make_manager<StatManager>();
  g_manager = manager;
  g_heap = manager->heap();
  g_pools = make_pools();
}
