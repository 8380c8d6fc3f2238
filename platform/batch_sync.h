// Putting many files on disk at once. One blocking fsync after another
// waits for the disk once per file; handed to the kernel together, the
// syncs overlap, the file system commits them in one go and the disk's
// cache is flushed a few times instead of once per file.
//
// Any thread; the descriptors stay the caller's and must stay open until
// the call returns.
#ifndef QXR8_PLATFORM_BATCH_SYNC_H_
#define QXR8_PLATFORM_BATCH_SYNC_H_

#include <vector>

// fsync of every descriptor of `fds` (data, and metadata such as times),
// submitted together through the kernel's asynchronous I/O where it can
// sync that way, else one after another. `errors` gets, for each
// descriptor, 0 or the errno of its sync; EINVAL (a descriptor that cannot
// be synced, with nothing of its own to put on a disk) counts as 0.
void sync_descriptors(const std::vector<int>& fds, std::vector<int>& errors);

#endif  // QXR8_PLATFORM_BATCH_SYNC_H_
