// Internal to the mutex monitor: the key of the per-thread reader sets.
#ifndef QXR8_MEMORY_MONITOR_SLOT_H_
#define QXR8_MEMORY_MONITOR_SLOT_H_

#include <pthread.h>

namespace vorn {

// Returns DebugMutexMonitor::s_slot, creating the key first if the start-up
// code has not run yet. Any thread.
pthread_key_t monitor_slot();

}  // namespace vorn

#endif  // QXR8_MEMORY_MONITOR_SLOT_H_
