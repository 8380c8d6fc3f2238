#include "memory/ob_stack.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "memory/buffer_pool.h"

namespace vorn {

namespace {

// Doubles the pointer array [*begin, *end): copies the old entries, nulls
// the new half and releases the old array. Throws std::bad_alloc when the
// doubled size cannot be addressed or allocated; the array is then unchanged.
void grow(void**& begin, void**& end) {
  size_t count = static_cast<size_t>(end - begin);
  if (count > SIZE_MAX / sizeof(void*) / 2) throw std::bad_alloc();
  size_t doubled = count ? count * 2 : 1;
  void** fresh = new void*[doubled];
  if (count) std::memcpy(fresh, begin, count * sizeof(void*));
  std::memset(fresh + count, 0, (doubled - count) * sizeof(void*));
  delete[] begin;
  begin = fresh;
  end = fresh + doubled;
}

}  // namespace

ObStack::ObStack(BufferPool* pool)
    : m_pool(pool),
      m_remaining(0),
      m_current(nullptr),
      m_blocksBegin(nullptr),
      m_blocksEnd(nullptr),
      m_bigNext(nullptr),
      m_bigBegin(nullptr),
      m_bigEnd(nullptr) {
  init();
}

ObStack::~ObStack() { destroy(); }

void ObStack::init() {
  m_blocksBegin = new void*[1];
  m_blocksBegin[0] = nullptr;
  m_blocksEnd = m_blocksBegin + 1;
  m_current = m_blocksBegin;
  try {
    m_bigBegin = new void*[1];
    m_bigBegin[0] = nullptr;
    m_bigEnd = m_bigBegin + 1;
    m_bigNext = m_bigBegin;
    m_blocksBegin[0] = m_pool->alloc();
  } catch (...) {
    destroy();
    throw;
  }
  m_remaining = m_pool->elementSize();
}

void* ObStack::alloc(size_t size) {
  if (size > SIZE_MAX - 7) throw std::bad_alloc();  // rounding would wrap to 0
  size_t rounded = (size + 7) & ~static_cast<size_t>(7);
  if (rounded > m_remaining) return alloc0(rounded);
  char* result = static_cast<char*>(*m_current) + (m_pool->elementSize() - m_remaining);
  m_remaining -= rounded;
  return result;
}

void* ObStack::alloc0(size_t size) {
  const size_t elementSize = m_pool->elementSize();
  if (size > elementSize) {
    if (m_bigNext == m_bigEnd) {
      size_t used = static_cast<size_t>(m_bigNext - m_bigBegin);
      grow(m_bigBegin, m_bigEnd);
      m_bigNext = m_bigBegin + used;
    }
    char* big = new char[size];
    *m_bigNext++ = big;
    return big;
  }
  void** next = m_current + 1;
  if (next == m_blocksEnd) {
    size_t index = static_cast<size_t>(m_current - m_blocksBegin);
    grow(m_blocksBegin, m_blocksEnd);
    m_current = m_blocksBegin + index;
    next = m_current + 1;
  }
  if (!*next) *next = m_pool->alloc();
  m_current = next;
  m_remaining = elementSize - size;
  return *m_current;
}

void ObStack::clear(bool destroyAll) {
  if (destroyAll) {
    destroy();
    init();
    return;
  }
  m_current = m_blocksBegin;
  m_remaining = m_pool->elementSize();
  for (void** p = m_bigBegin; p != m_bigEnd; ++p) {
    delete[] static_cast<char*>(*p);
    *p = nullptr;
  }
  m_bigNext = m_bigBegin;
}

void ObStack::destroy() {
  for (void** p = m_blocksBegin; p != m_blocksEnd; ++p)
    if (*p) m_pool->free(*p);
  delete[] m_blocksBegin;
  for (void** p = m_bigBegin; p != m_bigEnd; ++p) delete[] static_cast<char*>(*p);
  delete[] m_bigBegin;
  m_blocksBegin = m_blocksEnd = m_current = nullptr;
  m_bigBegin = m_bigEnd = m_bigNext = nullptr;
  m_remaining = 0;
}

}  // namespace vorn
