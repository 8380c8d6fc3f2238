#include "install/installer.h"

#include <sys/stat.h>

#include "install/path_status.h"
#include "install/sleep.h"
#include "platform/string_utils.h"
#include "platform/text_encoding.h"
#include "res/string_table.h"

namespace {

// The pause after a complete run, so that the finished bar can be seen.
constexpr int kFinishPauseMs = 1000;

uint64_t file_time_value(const _FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The directory an entry's file goes into: everything before the last "/".
wstring directory_of(const wstring& destination) {
  const size_t slash = destination.rfind(kPathSeparatorChar);
  if (slash == wstring::npos) return wstring();
  if (slash == 0) return kPathSeparator;
  return destination.substr(0, slash);
}

// The errno behind the last failed FileSystem call.
int last_system_error() { return 0; }

// What stops a directory from being made: the deepest existing level of
// `directory` that is not a directory (a file where a folder must go), or
// `directory` itself when no such level exists.
wstring blocking_level(const wstring& directory) {
  size_t end = 0;
  while (end != wstring::npos) {
    end = directory.find(kPathSeparatorChar, end + 1);
    const wstring level = directory.substr(0, end);
    const PathKind kind = path_kind(level, true);
    if (kind == PathKind::kMissing) break;
    if (kind != PathKind::kDirectory) return level;
  }
  return directory;
}

}  // namespace

Installer::Installer() : processData(nullptr) {}

unsigned Installer::run(InstallProcessData* data) {
  processData = data;
  stats = InstallStats();
  KitReader* kit = nullptr;
  wstring targetDir;
  processData->get(kit, targetDir);
  if (kit == nullptr) return stopOnError(kErrorInvalidParameter, 0);

  const unsigned startCode = rollback.start(targetDir);
  if (startCode != kErrorSuccess) {
    const int systemError = last_system_error();
    wstring tempDir;
    FileSystem::GetTempPath(tempDir);
    return stopOnError(startCode, 0, tempDir, systemError);
  }

  const unsigned long count = kit->entries.size();
  for (unsigned long i = 0; i < count; ++i) {
    const config::KitEntry& entry = kit->entries[i];
    wstring name = entry.name;
    replace_all(name, kBadPathSeparator, kPathSeparator);
    const wstring destination = targetDir + name;
    // 64-bit product: no overflow for any table a 32-bit kit can hold.
    const unsigned long percent = i * 100UL / count;
    processData->setInstallState(0, destination, static_cast<int>(percent));

    // Only a file (or a link to one) may be replaced; anything else of the
    // user's standing at the destination means the kit cannot be installed.
    const PathKind kind = path_kind(destination, false);
    if (kind != PathKind::kMissing && kind != PathKind::kUnknown &&
        !is_replaceable_file(destination)) {
      return stopOnError(kErrorAlreadyExists, percent, destination);
    }

    if (!compareFiles(destination, entry.lastWriteTime)) {
      ++stats.filesUpToDate;
      continue;
    }

    const unsigned storeCode = rollback.storeRBFile(destination);
    const bool isNew = storeCode == kErrorFileNotFound || storeCode == kErrorPathNotFound;
    if (isNew) {
      // Journaled before it is written, so that a copy failing halfway is
      // removed by the rollback too.
      rollback.addRBFile(destination);
    } else if (storeCode != kErrorSuccess) {
      return stopOnError(storeCode, percent, destination, last_system_error());
    }

    const wstring directory = directory_of(destination);
    const unsigned dirCode = rollback.makeDirectoryTree(directory);
    if (dirCode != kErrorSuccess) {
      const int systemError = last_system_error();
      return stopOnError(dirCode, percent, blocking_level(directory), systemError);
    }

    const unsigned copyCode = kit->copy(i, destination);
    if (copyCode != kErrorSuccess) {
      return stopOnError(copyCode, percent, destination, last_system_error());
    }
    ++(isNew ? stats.filesNew : stats.filesReplaced);
    stats.bytesWritten += entry.size;

    if (processData->isCancelled()) {
      rollback.rollback(kErrorCancelled);
      processData->setStats(stats);
      InstallFailure cancelled;
      cancelled.code = kErrorCancelled;
      processData->setFailure(cancelled);
      // Posted once the catalog is back as it was, so that the text it
      // carries is true when it is shown; the poller needs a nonzero code.
      processData->setInstallState(kErrorCancelled, LoadResString("IDS_CANCEL_FINISH"),
                                   static_cast<int>(percent));
      return kErrorCancelled;
    }
  }

  rollback.stop();
  processData->setStats(stats);
  processData->setInstallState(0, LoadResString("IDS_INSTALL_FINISH"), 100);
  Sleep(kFinishPauseMs);
  return kErrorSuccess;
}

bool Installer::compareFiles(const wstring& destination, const _FILETIME& kitTime) {
  // Opening a FIFO for reading would wait for a writer: only regular files
  // are opened.
  if (path_kind(destination, true) != PathKind::kRegular) return true;
  void* handle = kInvalidHandleValue;
  if (FileSystem::CreateFile(destination, kGenericRead, 0, kOpenExisting, handle) !=
          kErrorSuccess ||
      handle == kInvalidHandleValue) {
    return true;
  }
  _FILETIME installed = {0, 0};
  const unsigned timeCode = FileSystem::GetFileTime(handle, nullptr, nullptr, &installed);
  FileSystem::CloseHandle(handle);
  if (timeCode != kErrorSuccess) return true;
  return file_time_value(installed) < file_time_value(kitTime);
}

unsigned Installer::stopOnError(unsigned code, unsigned long percent, const wstring& path,
                                int systemError) {
  InstallFailure failure;
  failure.code = code;
  failure.path = path;
  failure.systemError = systemError;
  processData->setFailure(failure);
  processData->setStats(stats);
  processData->setInstallState(code, LoadResString("IDS_INSTALL_ERROR"),
                               static_cast<int>(percent));
  return rollback.rollback(code);
}
