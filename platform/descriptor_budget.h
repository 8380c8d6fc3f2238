// How many more descriptors this process may open: the soft limit on open
// files less those open now below it (the limit bounds the numbers a new
// descriptor may take). A run sizes what it keeps open (staged files,
// folders) by it, so that a low `ulimit -n` makes it slower, never fail,
// and it can tell before it writes anything when too few are left to work
// at all.
//
// Any thread; the answer is a snapshot (other threads may open more).
#ifndef QXR8_PLATFORM_DESCRIPTOR_BUDGET_H_
#define QXR8_PLATFORM_DESCRIPTOR_BUDGET_H_

#include <cstddef>

// Descriptors that may still be opened; a large number when the limit is
// unlimited or cannot be read.
size_t spare_descriptors();

// The soft limit on open files (RLIMIT_NOFILE), or 0 when unlimited or
// unreadable.
size_t descriptor_limit();

#endif  // QXR8_PLATFORM_DESCRIPTOR_BUDGET_H_
