// The per-thread sets of monitors held shared: a uthash table per thread,
// reached through thread-specific storage, so no lock is needed.
#include <cstdlib>

#include "memory/monitor_slot.h"
#include "memory/mutex_monitor.h"

// The table cannot report an allocation failure to its caller; the process
// ends instead.
#define uthash_fatal(msg) std::exit(-1)
#include <uthash.h>

namespace vorn {

namespace {

struct ReaderEntry {
  const void* key;  // the monitor's address
  UT_hash_handle hh;
};

static_assert(sizeof(ReaderEntry) == 64, "one 64-byte element per monitor");

ReaderEntry* thread_set() { return static_cast<ReaderEntry*>(pthread_getspecific(monitor_slot())); }

ReaderEntry* find_entry(ReaderEntry* set, const void* monitor) {
  ReaderEntry* entry = nullptr;
  HASH_FIND_PTR(set, &monitor, entry);
  return entry;
}

}  // namespace

bool DebugMutexMonitor::hasThreadReader() const {
  ReaderEntry* set = thread_set();
  return set && find_entry(set, this);
}

void DebugMutexMonitor::setThreadReader() {
  ReaderEntry* set = thread_set();
  if (set && find_entry(set, this)) raiseError(ReaderMismatch);
  ReaderEntry* entry = static_cast<ReaderEntry*>(std::malloc(sizeof(ReaderEntry)));
  if (!entry) uthash_fatal("out of memory");
  entry->key = this;
  HASH_ADD_PTR(set, key, entry);
  pthread_setspecific(monitor_slot(), set);
}

void DebugMutexMonitor::clearThreadReader() {
  ReaderEntry* set = thread_set();
  if (!set) return;
  ReaderEntry* entry = find_entry(set, this);
  if (!entry) return;
  HASH_DEL(set, entry);
  std::free(entry);
  // HASH_DEL frees the table itself with its last element and nulls `set`.
  pthread_setspecific(monitor_slot(), set);
}

}  // namespace vorn
