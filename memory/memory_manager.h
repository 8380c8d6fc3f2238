// The process-wide memory manager, its heap and its buffer pools.
#ifndef QXR8_MEMORY_MEMORY_MANAGER_H_
#define QXR8_MEMORY_MEMORY_MANAGER_H_

#include <cstddef>

#include "memory/memory_heap.h"
#include "memory/memory_stats.h"

namespace vorn {

class BufferPool;

// The manager owns one heap and the settings of its statistics and hooks.
// Every operation may be called from any thread.
class IMemoryManager {
 public:
  virtual ~IMemoryManager() {}
  // Returns the heap; it lives as long as the manager.
  virtual IMemoryHeap* heap() = 0;
  // Switches the counters on or off.
  virtual void setStatEnabled(bool enabled) = 0;
  // Reads both counters into `out`.
  virtual void getStats(MemoryStats& out) = 0;
  // Adds `delta` to both counters while statistics are enabled.
  virtual void addStats(const MemoryStats& delta) = 0;
  // Reads the allocation check and the release notification; either
  // out-pointer may be null.
  virtual void getCallbacks(AllocCheckFn* check, FreeNotifyFn* notify) = 0;
  // Sets the allocation check and the release notification (null: none).
  virtual void setCallbacks(AllocCheckFn check, FreeNotifyFn notify) = 0;
  // Sets the out-of-memory handler (null: none).
  virtual void setOutOfMemoryHandler(OutOfMemoryFn handler) = 0;
};

// A manager over a heap without settings: every setting is ignored, the
// counters read 0 and the hooks read null.
template <class Heap>
class MemoryManager : public IMemoryManager {
 public:
  IMemoryHeap* heap() override { return &m_heap; }
  void setStatEnabled(bool) override {}
  void getStats(MemoryStats& out) override { out.blocks = out.bytes = 0; }
  void addStats(const MemoryStats&) override {}
  void getCallbacks(AllocCheckFn* check, FreeNotifyFn* notify) override {
    if (check) *check = nullptr;
    if (notify) *notify = nullptr;
  }
  void setCallbacks(AllocCheckFn, FreeNotifyFn) override {}
  void setOutOfMemoryHandler(OutOfMemoryFn) override {}

 private:
  Heap m_heap;
};

// A manager over the counting heap: the settings are the heap's own.
template <class Alloc>
class MemoryManager<StatMemoryHeap<Alloc> > : public IMemoryManager {
 public:
  IMemoryHeap* heap() override { return &m_heap; }
  void setStatEnabled(bool enabled) override { m_heap.setStatEnabled(enabled); }
  void getStats(MemoryStats& out) override { m_heap.getStats(out); }
  void addStats(const MemoryStats& delta) override { m_heap.addStats(delta); }
  void getCallbacks(AllocCheckFn* check, FreeNotifyFn* notify) override {
    m_heap.getCallbacks(check, notify);
  }
  void setCallbacks(AllocCheckFn check, FreeNotifyFn notify) override {
    m_heap.setCallbacks(check, notify);
  }
  void setOutOfMemoryHandler(OutOfMemoryFn handler) override {
    m_heap.setOutOfMemoryHandler(handler);
  }

 private:
  StatMemoryHeap<Alloc> m_heap;
};

// Number of buffer pools made at start-up and their element sizes.
const int kPoolCount = 4;
extern const size_t kPoolElementSizes[kPoolCount];

// Null until the manager is created, then fixed for the life of the process;
// the manager and the pools are never destroyed.
extern IMemoryManager* g_manager;
extern IMemoryHeap* g_heap;
extern BufferPool* g_pools;  // kPoolCount pools, or null if they could not be made

// Returns the manager, creating it first when it does not exist yet.
IMemoryManager* memory_manager();
// Returns the start-up pools as they are (null before creation).
BufferPool* buffer_pools();

namespace details {
// Returns a block of `size` bytes from the manager's heap (creating the
// manager if needed); throws std::bad_alloc when the heap refuses.
void* alloc(size_t size);
// Returns a block from the heap, or null. The manager must already exist.
void* alloc_nothrow(size_t size);
// Gives a block from alloc/alloc_nothrow back to the heap; null is ignored.
void free(void* block);
}  // namespace details

}  // namespace vorn

// Creates the manager, its heap and the pools, once; later calls do nothing.
// Chooses the plain heap when "r8_dont_use_memory_stat" is in the environment
// (with any value), else the counting heap with everything off. Not locked:
// meant for static initialisation, before any other thread exists.
// Ends the process with abort() if the manager itself cannot be allocated.
extern "C" void create_memory_manager();

#endif  // QXR8_MEMORY_MEMORY_MANAGER_H_
