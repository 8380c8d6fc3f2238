// Replaces the global allocation operators so that every new and delete of
// the program goes to the memory manager's heap.
//
// Every form that takes no alignment is replaced, sized and nothrow ones
// included, so a block can never reach a different allocator than the one
// that made it. The over-aligned forms are left to the system library as a
// complete set: its aligned new and aligned delete only ever meet each other.
#include <cstddef>
#include <new>

#include "memory/memory_manager.h"

namespace {

// The nothrow forms may also run before the start-up code made the manager.
inline void* alloc_or_null(std::size_t size) noexcept {
  vorn::memory_manager();
  return vorn::details::alloc_nothrow(size);
}

}  // namespace

void* operator new(std::size_t size) { return vorn::details::alloc(size); }
void* operator new[](std::size_t size) { return vorn::details::alloc(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return alloc_or_null(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return alloc_or_null(size); }

void operator delete(void* block) noexcept { vorn::details::free(block); }
void operator delete[](void* block) noexcept { vorn::details::free(block); }
void operator delete(void* block, std::size_t) noexcept { vorn::details::free(block); }
void operator delete[](void* block, std::size_t) noexcept { vorn::details::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { vorn::details::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { vorn::details::free(block); }
