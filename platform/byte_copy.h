// Copying bytes from one open file to another, by the kernel where it can
// (copy_file_range, then sendfile), through a buffer only as the last
// resort. Any thread; the descriptors are used by this call alone.
#ifndef QXR8_PLATFORM_BYTE_COPY_H_
#define QXR8_PLATFORM_BYTE_COPY_H_

#include <cstddef>
#include <cstdint>

// `size` for "up to the end of the source".
inline constexpr uint64_t kCopyToEnd = UINT64_MAX;

// Copies `size` bytes of `in`, read by position from `offset` (its file
// offset is neither used nor moved), to `out` at out's current position.
// `buffer` of `bufferSize` bytes is used when the kernel cannot copy; null
// makes the call allocate one of its own then. Returns 0, the errno of the
// failed call, or ENODATA when `in` ends before `size` bytes (never with
// kCopyToEnd).
int copy_bytes(int in, uint64_t offset, uint64_t size, int out, void* buffer, size_t bufferSize);

#endif  // QXR8_PLATFORM_BYTE_COPY_H_
