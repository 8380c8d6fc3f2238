#include "config/write_permission.h"

#include "platform/file_system.h"

bool isWritePermitted(const wstring& dir) {
  wstring probe;
  if (FileSystem::GetTempFileName(dir, u"Qx", probe) != kErrorSuccess) return false;
  FileSystem::DeleteFile(probe);
  return true;
}
