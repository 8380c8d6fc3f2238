// One installation run per templates catalog: an exclusive flock on the
// catalog directory's own descriptor. Taken before the run's first write
// into the catalog and held until its success or its rollback is complete;
// the lock goes with the descriptor, so a run that dies frees it.
//
// One thread uses a CatalogLock at a time.
#ifndef QXR8_INSTALL_CATALOG_LOCK_H_
#define QXR8_INSTALL_CATALOG_LOCK_H_

#include "platform/wstring.h"

class CatalogLock {
 public:
  CatalogLock() = default;
  ~CatalogLock() { release(); }
  CatalogLock(const CatalogLock&) = delete;
  CatalogLock& operator=(const CatalogLock&) = delete;

  // Opens the existing directory `catalog` and locks it without waiting.
  // Returns 0; 32 (ERROR_SHARING_VIOLATION) when another run holds it; or
  // the code of the failed open (`systemError` gets its errno).
  unsigned acquire(const wstring& catalog, int& systemError);

  // Unlocks and closes; nothing when not held.
  void release();

  // The locked catalog's descriptor, or -1.
  int fd() const { return m_fd; }

 private:
  int m_fd = -1;
};

#endif  // QXR8_INSTALL_CATALOG_LOCK_H_
