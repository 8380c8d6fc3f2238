// A stack allocator that bumps a pointer through blocks of a buffer pool.
#ifndef QXR8_MEMORY_OB_STACK_H_
#define QXR8_MEMORY_OB_STACK_H_

#include <cstddef>

namespace vorn {

class BufferPool;

// Hands out pieces of pool blocks by moving upward through the current
// block; requests larger than a pool block come from the global new[].
// Nothing is freed piecewise: clear() or destroy() releases everything.
// No lock: an ObStack belongs to one thread.
class ObStack {
 public:
  // Remembers `pool` (not owned; must outlive the stack) and takes its
  // first block. Throws std::bad_alloc when that block cannot be had.
  explicit ObStack(BufferPool* pool);
  ~ObStack();
  ObStack(const ObStack&) = delete;
  ObStack& operator=(const ObStack&) = delete;

  // Takes the first block and sets up empty arrays. Only on a stack that
  // holds nothing (fresh or after destroy()).
  void init();
  // Returns `size` bytes, rounded up to a multiple of 8, valid until the
  // next clear() or destroy(). Throws std::bad_alloc when memory cannot be had.
  void* alloc(size_t size);
  // The slow path of alloc(): `size` (already rounded) does not fit into
  // the rest of the current block.
  void* alloc0(size_t size);
  // With `destroyAll`, gives everything back and starts afresh. Without it,
  // keeps the pool blocks for reuse from the first one on and releases only
  // the big allocations.
  void clear(bool destroyAll);
  // Gives every block back and leaves the stack holding nothing; only init()
  // may follow. Safe to call twice.
  void destroy();

 private:
  BufferPool* m_pool;
  size_t m_remaining;       // free bytes at the end of the current block
  void** m_current;         // entry of the current block in the block array
  void** m_blocksBegin;     // pool blocks; null entries are not taken yet
  void** m_blocksEnd;
  void** m_bigNext;         // next free entry of the big-allocation array
  void** m_bigBegin;        // blocks larger than a pool block; null once freed
  void** m_bigEnd;
};

}  // namespace vorn

#endif  // QXR8_MEMORY_OB_STACK_H_
