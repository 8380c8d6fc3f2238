#include "install/installer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "install/atomic_placement.h"
#include "install/catalog_walk.h"
#include "install/install_codes.h"
#include "install/path_status.h"
#include "install/run_recovery.h"
#include "install/sleep.h"
#include "install/space_check.h"
#include "platform/string_utils.h"
#include "platform/system_path.h"
#include "platform/text_encoding.h"
#include "res/string_table.h"

namespace {

// The pause after a complete run, so that the finished bar can be seen.
constexpr int kFinishPauseMs = 1000;

uint64_t file_time_value(const _FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// True when an installed copy with modification time `mtime` is older
// than the kit's time (kept to the second, the kit's time in full).
bool older_than_kit(time_t mtime, const _FILETIME& kitTime) {
  return file_time_value(EpochToFileTime(static_cast<long>(mtime))) < file_time_value(kitTime);
}

int descriptor_of(void* handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }

// Closes a descriptor when it goes out of scope.
struct FdCloser {
  int fd = -1;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

wstring normalised_kit_name(const wstring& name) {
  wstring out;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && name[end] != kPathSeparatorChar &&
           name[end] != kBadPathSeparatorChar) {
      ++end;
    }
    const wstring component = name.substr(start, end - start);
    if (!component.empty() && component != u".") {
      if (!out.empty()) out += kPathSeparator;
      out += component;
    }
    start = end + 1;
  }
  return out;
}

Installer::Installer() : processData(nullptr) {}

unsigned Installer::run(InstallProcessData* data) {
  processData = data;
  stats = InstallStats();
  placed.clear();
  KitReader* kit = nullptr;
  wstring targetDir;
  processData->get(kit, targetDir);
  if (kit == nullptr || targetDir.empty()) return stopOnError(kErrorInvalidParameter, 0);
  if (targetDir.back() == kBadPathSeparatorChar) targetDir.back() = kPathSeparatorChar;

  // The catalog must exist to be locked; one that this run makes is
  // journaled once the lock is held, so that a run refused with 32 never
  // removes a catalog another run made.
  const unsigned madeCatalog = FileSystem::CreateDirectory(targetDir);
  if (madeCatalog != kErrorSuccess && madeCatalog != kErrorAlreadyExists) {
    return stopOnError(madeCatalog, 0, targetDir);
  }
  int lockError = 0;
  const unsigned lockCode = catalogLock.acquire(targetDir, lockError);
  if (lockCode != kErrorSuccess) return stopOnError(lockCode, 0, targetDir, lockError);

  wstring tempDir;
  FileSystem::GetTempPath(tempDir);
  recover_dead_runs(tempDir, catalogLock.fd());

  const unsigned startCode = rollback.start(targetDir);
  if (startCode != kErrorSuccess) {
    return stopOnError(startCode, 0, tempDir, FileSystem::GetLastSystemError());
  }
  if (madeCatalog == kErrorSuccess) rollback.recordCreatedDir(targetDir);

  const unsigned long count = kit->entries.size();
  std::vector<wstring> names(count);
  for (unsigned long i = 0; i < count; ++i) names[i] = normalised_kit_name(kit->entries[i].name);

  const unsigned spaceCode = checkSpace(*kit, targetDir, tempDir, names);
  if (spaceCode != kErrorSuccess) return spaceCode;

  const int kitFd = descriptor_of(kit->tempHandle);
  for (unsigned long i = 0; i < count; ++i) {
    const config::KitEntry& entry = kit->entries[i];
    const wstring& name = names[i];
    const wstring destination = targetDir + name;
    // 64-bit product: no overflow for any table a 32-bit kit can hold.
    const unsigned long percent = i * 100UL / count;
    processData->setInstallState(0, destination, static_cast<int>(percent),
                                 InstallPosition{i + 1, count});
    if (name.empty()) return stopOnError(kErrorInvalidName, percent, destination);

    // A name the system cannot take exactly is refused, never replaced:
    // a look-alike name could be another entry's file. The parts of a name
    // that passes convert exactly as well.
    std::string systemName;
    if (!to_system_path(destination, systemName)) {
      return stopOnError(kErrorInvalidName, percent, destination);
    }

    const size_t slash = name.rfind(kPathSeparatorChar);
    const wstring relativeDir = slash == wstring::npos ? wstring() : name.substr(0, slash);
    const std::string leaf = narrow_lib(slash == wstring::npos ? name : name.substr(slash + 1));

    // The destination's directory, reached without following a link that
    // someone else planted. Missing is fine: it is made below.
    WalkResult walk;
    FdCloser dir;
    dir.fd = open_catalog_directory(catalogLock.fd(), narrow_lib(relativeDir), false, {}, walk);
    if (dir.fd < 0 && walk.code != kErrorFileNotFound) {
      return stopOnError(walk.code, percent, targetDir + widen_lib(walk.failedLevel),
                         walk.systemError);
    }

    // What stands at the destination. Only a file, a link to one or a
    // dangling link may be replaced; anything else of the user's ends the
    // run. A link is read through only when its owner is trusted.
    bool exists = false;
    bool mustWrite = true;
    struct stat status;
    if (dir.fd >= 0) {
      if (::fstatat(dir.fd, leaf.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        exists = true;
        if (S_ISREG(status.st_mode)) {
          mustWrite = older_than_kit(status.st_mtime, entry.lastWriteTime);
        } else if (S_ISLNK(status.st_mode)) {
          struct stat target;
          if (::fstatat(dir.fd, leaf.c_str(), &target, 0) == 0) {
            if (!S_ISREG(target.st_mode)) {
              return stopOnError(kErrorAlreadyExists, percent, destination);
            }
            if (link_owner_trusted(status.st_uid)) {
              mustWrite = older_than_kit(target.st_mtime, entry.lastWriteTime);
            }
          } else if (errno != ENOENT) {
            return stopOnError(kErrorAlreadyExists, percent, destination, errno);
          }
        } else {
          return stopOnError(kErrorAlreadyExists, percent, destination);
        }
      } else if (errno != ENOENT) {
        const int err = errno;
        return stopOnError(setLastErrorByErrNo(err), percent, destination, err);
      }
    }
    if (!mustWrite) {
      ++stats.filesUpToDate;
      continue;
    }

    // The first backup of a file wins: what the run itself placed, under
    // whichever name it is reached now, is not backed up again.
    bool isNew = !exists;
    const bool ownCopy =
        exists && placed.count(std::make_pair(static_cast<unsigned long long>(status.st_dev),
                                              static_cast<unsigned long long>(status.st_ino)));
    if (!ownCopy) {
      const unsigned storeCode = rollback.storeRBFile(destination);
      isNew = storeCode == kErrorFileNotFound || storeCode == kErrorPathNotFound;
      if (isNew) {
        // Journaled before it is written, so that a run that fails or dies
        // while placing it removes it too.
        const unsigned journalCode = rollback.recordAddedFile(destination);
        if (journalCode != kErrorSuccess) return stopOnError(journalCode, percent, tempDir);
      } else if (storeCode != kErrorSuccess) {
        return stopOnError(storeCode, percent, destination, FileSystem::GetLastSystemError());
      }
    }

    if (dir.fd < 0) {
      dir.fd = open_catalog_directory(
          catalogLock.fd(), narrow_lib(relativeDir), true,
          [this, &targetDir](const std::string& level) {
            rollback.recordCreatedDir(targetDir + widen_lib(level));
          },
          walk);
      if (dir.fd < 0) {
        return stopOnError(walk.code, percent, targetDir + widen_lib(walk.failedLevel),
                           walk.systemError);
      }
    }

    PlacementSource source;
    source.fd = kitFd;
    source.offset = entry.offset;
    source.size = entry.size;
    source.mtime = FileTimeToEpoch(entry.lastWriteTime);
    const wstring dirPrefix = relativeDir.empty() ? targetDir : targetDir + relativeDir + u"/";
    const PlacementResult placement =
        place_file(dir.fd, leaf, source, kit->buffer.get(), kit->bufferSize,
                   [this, &dirPrefix](const std::string& temporary) {
                     return rollback.recordTemporary(dirPrefix + widen_lib(temporary));
                   });
    if (placement.code != kErrorSuccess) {
      return stopOnError(placement.code, percent, destination, placement.systemError);
    }
    placed.insert(std::make_pair(static_cast<unsigned long long>(placement.device),
                                 static_cast<unsigned long long>(placement.inode)));
    ++(isNew ? stats.filesNew : stats.filesReplaced);
    stats.bytesWritten += entry.size;

    if (processData->isCancelled()) {
      rollback.rollback(kErrorCancelled);
      processData->setRollbackResult(!rollback.restoreFailed(), rollback.keptBackupDir());
      catalogLock.release();
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
  catalogLock.release();
  processData->setStats(stats);
  processData->setInstallState(0, LoadResString("IDS_INSTALL_FINISH"), 100);
  Sleep(kFinishPauseMs);
  return kErrorSuccess;
}

unsigned Installer::checkSpace(const KitReader& kit, const wstring& targetDir,
                               const wstring& tempDir, const std::vector<wstring>& names) {
  // Every entry that will be written counts in full, however many entries
  // share bytes of the kit: what bounds a run is what it writes.
  uint64_t available = 0;
  const bool knowsRoom = available_space(catalogLock.fd(), std::string(), available);
  uint64_t catalogBytes = 0;
  uint64_t backupBytes = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string destination = narrow_lib(targetDir + names[i]);
    struct stat status;
    const bool present = ::stat(destination.c_str(), &status) == 0 && S_ISREG(status.st_mode);
    if (present && !older_than_kit(status.st_mtime, kit.entries[i].lastWriteTime)) continue;
    catalogBytes += kit.entries[i].size;
    if (present) backupBytes += static_cast<uint64_t>(status.st_size);
    // Named after the first file that would not fit.
    if (knowsRoom && catalogBytes > available) {
      return stopOnError(kErrorDiskFull, 0, targetDir + names[i]);
    }
  }
  // Backups are renames on the catalog's own file system; elsewhere they
  // are copies that need room of their own.
  struct stat catalogStatus;
  struct stat tempStatus;
  if (::fstat(catalogLock.fd(), &catalogStatus) == 0 &&
      ::stat(narrow_lib(tempDir).c_str(), &tempStatus) == 0 &&
      catalogStatus.st_dev != tempStatus.st_dev &&
      check_space(-1, narrow_lib(tempDir), backupBytes) != kErrorSuccess) {
    return stopOnError(kErrorDiskFull, 0, tempDir);
  }
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
  rollback.rollback(code);
  processData->setRollbackResult(!rollback.restoreFailed(), rollback.keptBackupDir());
  catalogLock.release();
  return code;
}
