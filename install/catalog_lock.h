// One installation run per templates catalog: an exclusive flock on the
// catalog directory's own descriptor. Taken before the run's first write
// into the catalog and held until its success or its rollback is complete;
// the lock goes with the descriptor, so a run that dies frees it.
//
// One thread uses a CatalogLock at a time.
#ifndef QXR8_INSTALL_CATALOG_LOCK_H_
#define QXR8_INSTALL_CATALOG_LOCK_H_

#include "platform/directory.h"
#include "platform/status.h"
#include "platform/wstring.h"

class CatalogLock {
 public:
  // Opens the existing directory `catalog` and locks it without waiting.
  // Fails with 32 (ERROR_SHARING_VIOLATION) when another run holds it, or
  // with the Status of the failed open (3 for a path that is not a folder).
  Status acquire(const wstring& catalog);

  // Unlocks and closes; nothing when not held.
  void release() { m_directory = Directory(); }

  bool held() const { return m_directory.isOpen(); }

  // The locked catalog (its path ends with "/").
  const Directory& directory() const { return m_directory; }

 private:
  Directory m_directory;
};

#endif  // QXR8_INSTALL_CATALOG_LOCK_H_
