// Serialises the registrations of catalogs made by the wizard and the tool,
// in this process and in others: each takes the lock, re-reads the launcher
// files and writes them back while holding it, so that no registration
// overwrites another's catalog with a list it read earlier.
#ifndef QXR8_CONFIG_REGISTRATION_LOCK_H_
#define QXR8_CONFIG_REGISTRATION_LOCK_H_

// An exclusive flock on the launcher's folder below the home directory
// (home_dir() + "/.Qx", the common parent of the per-user and base files;
// created when missing, as the first write would create it). Taken by the
// constructor, which blocks until other holders let go; released by the
// destructor, or by the kernel when the process dies, so a killed writer
// never leaves it held. No file is added for the lock. When the folder
// cannot be made or opened (a file in its place, no permission) the object
// holds nothing and the caller goes on unserialised, as the writes that
// follow would fail or stand alone anyway. One object per thread.
#include "platform/directory.h"

class RegistrationLock {
 public:
  RegistrationLock();
  ~RegistrationLock();
  RegistrationLock(const RegistrationLock&) = delete;
  RegistrationLock& operator=(const RegistrationLock&) = delete;

  bool held() const { return m_folder.isOpen(); }

 private:
  Directory m_folder;
};

#endif  // QXR8_CONFIG_REGISTRATION_LOCK_H_
