// Block and byte counters of the memory library.
#ifndef QXR8_MEMORY_MEMORY_STATS_H_
#define QXR8_MEMORY_MEMORY_STATS_H_

#include <cstddef>
#include <cstdint>

namespace vorn {

// A reading of the heap's counters, or a change to add to them.
struct MemoryStats {
  int64_t blocks;
  int64_t bytes;
};

// Allocation check: given the usable size of a fresh block, false refuses it.
typedef bool (*AllocCheckFn)(size_t usableSize);
// Release notification: told the usable size of each block given back.
typedef void (*FreeNotifyFn)(size_t usableSize);
// Out-of-memory handler: called once when malloc fails, before one retry.
typedef void (*OutOfMemoryFn)();

}  // namespace vorn

#endif  // QXR8_MEMORY_MEMORY_STATS_H_
