#include "memory/buffer_pool.h"

#include <cstring>
#include <new>

#include "memory/memory_manager.h"

namespace vorn {

static_assert(sizeof(BufferPool::Chunk) <= BufferPool::kChunkHeaderSize,
              "chunk header must fit before the first slot");
static_assert(sizeof(BufferPool::Slot) == BufferPool::kSlotHeaderSize,
              "slot header is two pointers");

namespace {

const size_t kUsableChunkBytes = BufferPool::kChunkSize - BufferPool::kChunkHeaderSize;

inline char* payload_of(BufferPool::Slot* slot) {
  return reinterpret_cast<char*>(slot) + BufferPool::kSlotHeaderSize;
}

inline BufferPool::Slot* slot_of(void* payload) {
  return reinterpret_cast<BufferPool::Slot*>(static_cast<char*>(payload) -
                                             BufferPool::kSlotHeaderSize);
}

// Slots that fit after the chunk header; 0 when not even one fits.
int elements_per_chunk(size_t elementSize) {
  if (elementSize > kUsableChunkBytes - BufferPool::kSlotHeaderSize) return 0;
  return static_cast<int>(kUsableChunkBytes / (elementSize + BufferPool::kSlotHeaderSize));
}

}  // namespace

BufferPool::BufferPool(size_t elementSize)
    : m_elementSize(elementSize),
      m_elementsPerChunk(elements_per_chunk(elementSize)),
      m_freeCount(0),
      m_chunks(nullptr),
      m_freeChunks(nullptr) {}

BufferPool::~BufferPool() {
  Chunk* chunk = m_chunks;
  while (chunk) {
    Chunk* next = chunk->next;
    freeChunk(chunk);
    chunk = next;
  }
  m_chunks = m_freeChunks = nullptr;
  m_freeCount = 0;
}

void* BufferPool::alloc() {
  AllocCheckFn check = nullptr;
  memory_manager()->getCallbacks(&check, nullptr);
  if (check && !check(m_elementSize)) throw std::bad_alloc();
  void* buffer;
  // Another thread may take the slots of the chunk just added; then add one more.
  while (!(buffer = poolAlloc())) alloc0();
  MemoryStats delta = {1, static_cast<int64_t>(m_elementSize)};
  memory_manager()->addStats(delta);
  return buffer;
}

void BufferPool::free(void* buffer) {
  if (!buffer) return;
  poolFree(buffer);
  MemoryStats delta = {-1, -static_cast<int64_t>(m_elementSize)};
  memory_manager()->addStats(delta);
  FreeNotifyFn notify = nullptr;
  memory_manager()->getCallbacks(nullptr, &notify);
  if (notify) notify(m_elementSize);
}

int BufferPool::freeCount() {
  SpinLockGuard guard(m_lock);
  return m_freeCount;
}

int BufferPool::chunkCount() {
  SpinLockGuard guard(m_lock);
  int count = 0;
  for (Chunk* chunk = m_chunks; chunk; chunk = chunk->next) ++count;
  return count;
}

void* BufferPool::poolAlloc() {
  SpinLockGuard guard(m_lock);
  Chunk* chunk = m_freeChunks;
  if (!chunk) return nullptr;
  Slot* slot = chunk->firstFree;
  chunk->firstFree = slot->nextFree;
  ++chunk->used;
  slot->nextFree = nullptr;
  --m_freeCount;
  if (!chunk->firstFree) {
    // The full chunk is the head of the list.
    m_freeChunks = chunk->freeNext;
    if (m_freeChunks) m_freeChunks->freePrev = nullptr;
    chunk->freeNext = chunk->freePrev = nullptr;
  }
  return payload_of(slot);
}

void BufferPool::alloc0() {
  // An element that does not fit into a chunk can never be served; without
  // this the caller's loop would add empty chunks forever.
  if (m_elementsPerChunk <= 0) throw std::bad_alloc();
  Chunk* chunk = allocChunk();

  // Cutting happens outside the lock: nobody else can see the chunk yet.
  // Exactly elementsPerChunk slots are cut, the count the free counter is
  // told about, even when the last slot ends flush with the chunk.
  char* base = reinterpret_cast<char*>(chunk);
  const size_t stride = m_elementSize + kSlotHeaderSize;
  Slot* prev = nullptr;
  for (int i = 0; i < m_elementsPerChunk; ++i) {
    Slot* slot = reinterpret_cast<Slot*>(base + kChunkHeaderSize + i * stride);
    slot->chunk = chunk;
    slot->nextFree = nullptr;
    if (prev)
      prev->nextFree = slot;
    else
      chunk->firstFree = slot;
    prev = slot;
  }

  SpinLockGuard guard(m_lock);
  chunk->prev = nullptr;
  chunk->next = m_chunks;
  if (m_chunks) m_chunks->prev = chunk;
  m_chunks = chunk;
  chunk->freePrev = nullptr;
  chunk->freeNext = m_freeChunks;
  if (m_freeChunks) m_freeChunks->freePrev = chunk;
  m_freeChunks = chunk;
  m_freeCount += m_elementsPerChunk;
}

BufferPool::Chunk* BufferPool::allocChunk() {
  void* raw = memory_manager()->heap()->alloc(kChunkSize);
  if (!raw) throw std::bad_alloc();
  Chunk* chunk = static_cast<Chunk*>(raw);
  std::memset(chunk, 0, sizeof(Chunk));
  return chunk;
}

void BufferPool::poolFree(void* buffer) {
  SpinLockGuard guard(m_lock);
  Slot* slot = slot_of(buffer);
  Chunk* chunk = slot->chunk;
  const bool wasFull = chunk->firstFree == nullptr;
  slot->nextFree = chunk->firstFree;
  chunk->firstFree = slot;
  --chunk->used;
  ++m_freeCount;
  if (wasFull) insertFreeChunk(chunk);
  // One empty chunk is kept as a reserve until the pool has two chunks'
  // worth of free slots, so that a pool at its edge does not thrash.
  if (chunk->used == 0 && m_freeCount >= 2 * m_elementsPerChunk) {
    m_freeCount -= m_elementsPerChunk;
    unlinkChunk(chunk);
    freeChunk(chunk);
  }
}

// Keeps the free-chunks list in ascending address order.
void BufferPool::insertFreeChunk(Chunk* chunk) {
  Chunk* head = m_freeChunks;
  if (!head || chunk <= head) {
    chunk->freePrev = nullptr;
    chunk->freeNext = head;
    if (head) head->freePrev = chunk;
    m_freeChunks = chunk;
    return;
  }
  Chunk* at = head;
  while (at->freeNext && at->freeNext < chunk) at = at->freeNext;
  chunk->freePrev = at;
  chunk->freeNext = at->freeNext;
  if (at->freeNext) at->freeNext->freePrev = chunk;
  at->freeNext = chunk;
}

void BufferPool::unlinkChunk(Chunk* chunk) {
  if (chunk->prev)
    chunk->prev->next = chunk->next;
  else
    m_chunks = chunk->next;
  if (chunk->next) chunk->next->prev = chunk->prev;

  if (chunk->freePrev)
    chunk->freePrev->freeNext = chunk->freeNext;
  else if (m_freeChunks == chunk)
    m_freeChunks = chunk->freeNext;
  if (chunk->freeNext) chunk->freeNext->freePrev = chunk->freePrev;
  chunk->prev = chunk->next = chunk->freePrev = chunk->freeNext = nullptr;
}

void BufferPool::freeChunk(Chunk* chunk) { memory_manager()->heap()->free(chunk); }

}  // namespace vorn
