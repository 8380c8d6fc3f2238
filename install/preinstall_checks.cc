#include "install/preinstall_checks.h"

#include <cerrno>
#include <exception>

#include "platform/directory.h"
#include "platform/file_finder.h"
#include "platform/file_system.h"

bool kit_exists(const wstring& kitPath) {
  if (kitPath.empty()) return false;
  FileFinder finder;
  // The finder looks in the folder before the last "/": a bare name is in
  // the current one.
  return finder.reset(kitPath.find(kPathSeparatorChar) == wstring::npos ? u"./" + kitPath
                                                                         : kitPath);
}

Status kit_absence(const wstring& kitPath) {
  if (kitPath.empty()) return error_status(kErrorFileNotFound);
  if (kit_exists(kitPath)) return Status();
  const size_t slash = kitPath.rfind(kPathSeparatorChar);
  const wstring folder = slash == wstring::npos ? wstring(u".")
                         : slash == 0           ? wstring(u"/")
                                                : kitPath.substr(0, slash);
  Directory directory;
  Status status = Directory::open(folder, directory);
  FileInfo info;
  if (status.ok()) status = directory.info(kitPath.substr(slash + 1), FollowLinks::kYes, info);
  if (status.ok() && info.kind == PathKind::kMissing) status = status_of_errno(ENOENT, kitPath);
  status.path = kitPath;
  return status;
}

bool temporary_space_suffices(const wstring& kitPath, uint64_t& freeBytes, uint64_t& neededBytes) {
  unsigned kitSize = 0;
  unsigned available = 0;
  if (FileSystem::GetFileSize(kitPath, &kitSize) != kErrorSuccess ||
      FileSystem::GetFreeSpaceTmpDir(&available) != kErrorSuccess) {
    return true;
  }
  freeBytes = available;
  neededBytes = static_cast<uint64_t>(kSpaceReg) * kitSize;
  return freeBytes >= neededBytes;
}

KitOpenResult open_kit(const wstring& kitPath, KitReader& kit, unsigned& code,
                       KitReading reading) {
  try {
    code = reading == KitReading::kWhole ? kit.open(kitPath) : kit.openTable(kitPath);
  } catch (const std::exception&) {
    // The reader reports damage as codes, but a kit whose tables ask for
    // more memory than there is ends in std::bad_alloc: that kit is just
    // as unusable, and the user is told so instead of the program dying.
    code = kErrorInvalidData;
  }
  if (code == kErrorSuccess) return KitOpenResult::kOpened;
  if (code == kErrorDiskFull || code == kErrorFileTooLarge) return KitOpenResult::kNoSpace;
  return KitOpenResult::kDamaged;
}
