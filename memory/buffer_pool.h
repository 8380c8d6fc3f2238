// Fixed-size buffers carved from 4 MiB chunks of the manager's heap.
#ifndef QXR8_MEMORY_BUFFER_POOL_H_
#define QXR8_MEMORY_BUFFER_POOL_H_

#include <cstddef>

#include "memory/spin_mutex.h"

namespace vorn {

// A pool of buffers of one element size. Every operation may be called from
// any thread; the pool's own spin lock guards its lists and counters.
//
// A chunk starts with a 48-byte header; from byte 48 on it is cut into slots
// of element size + 16 bytes. Each slot starts with a 16-byte header (owning
// chunk, next free slot) followed by the payload handed to callers. Chunks
// with free slots are kept in ascending address order, so allocation prefers
// low chunks and empty high chunks can drain and be given back.
class BufferPool {
 public:
  static constexpr size_t kChunkSize = 4 * 1024 * 1024;
  static constexpr size_t kChunkHeaderSize = 48;
  static constexpr size_t kSlotHeaderSize = 16;

  struct Slot;
  struct Chunk {
    Chunk* prev;  // all-chunks list
    Chunk* next;
    Chunk* freePrev;  // chunks with at least one free slot
    Chunk* freeNext;
    Slot* firstFree;
    int used;
  };
  struct Slot {
    Chunk* chunk;
    Slot* nextFree;
  };

  // An empty pool of `elementSize`-byte buffers; takes no memory yet.
  explicit BufferPool(size_t elementSize);
  // Gives every chunk back to the heap, whether or not slots are in use.
  ~BufferPool();
  BufferPool(const BufferPool&) = delete;
  BufferPool& operator=(const BufferPool&) = delete;

  // Returns a buffer of elementSize() bytes, owned by the caller until
  // free(). Throws std::bad_alloc when the allocation check refuses the
  // element size or no chunk can be had.
  void* alloc();
  // Gives back a buffer from alloc() of this pool; null is ignored.
  void free(void* buffer);

  size_t elementSize() const { return m_elementSize; }
  int elementsPerChunk() const { return m_elementsPerChunk; }
  // Free slots over all chunks, and the number of chunks held (read under
  // the lock; the values may be stale once returned).
  int freeCount();
  int chunkCount();

 private:
  void* poolAlloc();
  void alloc0();
  Chunk* allocChunk();
  void poolFree(void* buffer);
  void freeChunk(Chunk* chunk);
  void insertFreeChunk(Chunk* chunk);
  void unlinkChunk(Chunk* chunk);

  SpinMutex m_lock;
  size_t m_elementSize;
  int m_elementsPerChunk;
  int m_freeCount;
  Chunk* m_chunks;
  Chunk* m_freeChunks;
};

}  // namespace vorn

#endif  // QXR8_MEMORY_BUFFER_POOL_H_
