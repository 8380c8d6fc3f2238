// The heaps of the memory library: a thin layer over the malloc family.
#ifndef QXR8_MEMORY_MEMORY_HEAP_H_
#define QXR8_MEMORY_MEMORY_HEAP_H_

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "memory/memory_stats.h"

namespace vorn {

// A source of raw blocks. Every operation may be called from any thread.
class IMemoryHeap {
 public:
  virtual ~IMemoryHeap() {}
  // Returns a block of at least `size` bytes, or null when none can be had.
  // The caller owns the block and gives it back with free().
  virtual void* alloc(size_t size) = 0;
  // Gives back a block from alloc(); null is ignored.
  virtual void free(void* block) = 0;
  // Returns the bytes really usable in a live block from alloc().
  virtual size_t usableSize(void* block) = 0;
  // Reserved extension point; does nothing.
  virtual void hook() = 0;
  // Returns the size the heap would really hand out for a request of `size`,
  // so that containers can choose a capacity that wastes nothing.
  virtual size_t goodSize(size_t size) = 0;
};

// Allocator policy: the system library's malloc family.
struct JEMalloc {
  static void* malloc(size_t size) { return ::malloc(size); }
  static void free(void* block) { ::free(block); }
  static size_t usableSize(void* block) { return ::malloc_usable_size(block); }
};

// The plain heap: every call goes straight to the policy.
template <class Alloc>
class MemoryHeap : public IMemoryHeap {
 public:
  void* alloc(size_t size) override { return Alloc::malloc(size); }
  void free(void* block) override {
    if (block) Alloc::free(block);
  }
  size_t usableSize(void* block) override { return Alloc::usableSize(block); }
  void hook() override {}
  size_t goodSize(size_t size) override { return size; }
};

// The counting heap: can keep block and byte counters and consult an
// allocation check, a release notification and an out-of-memory handler.
// Counters and hooks are atomics so that any thread may allocate while
// another changes a setting; all start off/null.
template <class Alloc>
class StatMemoryHeap : public IMemoryHeap {
 public:
  StatMemoryHeap()
      : m_statEnabled(false),
        m_blocks(0),
        m_bytes(0),
        m_check(nullptr),
        m_notify(nullptr),
        m_outOfMemory(nullptr) {}

  // Returns a block or null: null when malloc fails (after one call of the
  // out-of-memory handler and one retry) or when the check refuses.
  void* alloc(size_t size) override {
    void* block = Alloc::malloc(size);
    if (!block) {
      OutOfMemoryFn handler = m_outOfMemory.load(std::memory_order_acquire);
      if (!handler) return nullptr;
      handler();
      block = Alloc::malloc(size);
      if (!block) return nullptr;
    }
    bool stats = m_statEnabled.load(std::memory_order_relaxed);
    AllocCheckFn check = m_check.load(std::memory_order_acquire);
    if (stats || check) {
      size_t usable = Alloc::usableSize(block);
      if (check && !check(usable)) {
        Alloc::free(block);
        return nullptr;
      }
      if (stats) {
        m_blocks.fetch_add(1, std::memory_order_relaxed);
        m_bytes.fetch_add(static_cast<int64_t>(usable), std::memory_order_relaxed);
      }
    }
    return block;
  }

  // Gives back a block; null is ignored. The counters and the notification
  // see the usable size read before the block is released.
  void free(void* block) override {
    if (!block) return;
    bool stats = m_statEnabled.load(std::memory_order_relaxed);
    FreeNotifyFn notify = m_notify.load(std::memory_order_acquire);
    size_t usable = (stats || notify) ? Alloc::usableSize(block) : 0;
    Alloc::free(block);
    if (stats) {
      m_blocks.fetch_sub(1, std::memory_order_relaxed);
      m_bytes.fetch_sub(static_cast<int64_t>(usable), std::memory_order_relaxed);
    }
    if (notify) notify(usable);
  }

  size_t usableSize(void* block) override { return Alloc::usableSize(block); }
  void hook() override {}
  size_t goodSize(size_t size) override { return size; }

  // The settings behind MemoryManager<StatMemoryHeap>; any thread.
  void setStatEnabled(bool enabled) { m_statEnabled.store(enabled, std::memory_order_relaxed); }
  void getStats(MemoryStats& out) const {
    out.blocks = m_blocks.load(std::memory_order_relaxed);
    out.bytes = m_bytes.load(std::memory_order_relaxed);
  }
  // Adds `delta` to both counters, only while statistics are enabled.
  void addStats(const MemoryStats& delta) {
    if (!m_statEnabled.load(std::memory_order_relaxed)) return;
    m_blocks.fetch_add(delta.blocks, std::memory_order_relaxed);
    m_bytes.fetch_add(delta.bytes, std::memory_order_relaxed);
  }
  void getCallbacks(AllocCheckFn* check, FreeNotifyFn* notify) const {
    if (check) *check = m_check.load(std::memory_order_acquire);
    if (notify) *notify = m_notify.load(std::memory_order_acquire);
  }
  void setCallbacks(AllocCheckFn check, FreeNotifyFn notify) {
    m_check.store(check, std::memory_order_release);
    m_notify.store(notify, std::memory_order_release);
  }
  void setOutOfMemoryHandler(OutOfMemoryFn handler) {
    m_outOfMemory.store(handler, std::memory_order_release);
  }

 private:
  std::atomic<bool> m_statEnabled;
  std::atomic<int64_t> m_blocks;
  std::atomic<int64_t> m_bytes;
  std::atomic<AllocCheckFn> m_check;
  std::atomic<FreeNotifyFn> m_notify;
  std::atomic<OutOfMemoryFn> m_outOfMemory;
};

}  // namespace vorn

#endif  // QXR8_MEMORY_MEMORY_HEAP_H_
