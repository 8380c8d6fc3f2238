#include "install/catalog_lock.h"

Status CatalogLock::acquire(const wstring& catalog) {
  release();
  Directory opened;
  Status status = Directory::open(catalog, opened);
  if (!status.ok()) return status;
  status = opened.lock(LockMode::kExclusive, LockWait::kNo);
  if (!status.ok()) return status;
  m_directory = std::move(opened);
  return Status();
}
