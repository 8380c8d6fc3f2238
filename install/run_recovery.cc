#include "install/run_recovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "install/path_status.h"
#include "install/rollback.h"
#include "install/run_journal.h"
#include "platform/text_encoding.h"

namespace {

bool is_backup_tree_name(const char* name) {
  if (std::strncmp(name, "r8stp", 5) != 0 || name[5] == '\0') return false;
  for (const char* p = name + 5; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

// A journal path may only name something below the catalog, with no "."
// or ".." component that could lead out of it.
bool inside(const wstring& catalog, const wstring& path) {
  if (path.size() <= catalog.size() || path.compare(0, catalog.size(), catalog) != 0) {
    return false;
  }
  const wstring rest = u"/" + path.substr(catalog.size()) + u"/";
  return rest.find(u"/../") == wstring::npos && rest.find(u"/./") == wstring::npos &&
         rest.find(u"//") == wstring::npos;
}

// The hidden temporaries of this system (".r8" and twelve characters of
// [a-z0-9]): a copy in the making that a killed move or placement left.
bool is_hidden_temporary(const char* name) {
  if (std::strncmp(name, ".r8", 3) != 0 || std::strlen(name) != 15) return false;
  for (const char* p = name + 3; *p != '\0'; ++p) {
    if (!((*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9'))) return false;
  }
  return true;
}

// The catalog directories a dead run worked in: where it placed files and
// where its backups came from.
void collect_directories(const std::string& backupDir, const std::string& catalogDir,
                         std::set<std::string>& out) {
  out.insert(catalogDir);
  std::vector<DirectoryEntry> entries;
  if (!list_directory(widen_lib(backupDir), entries)) return;
  for (const DirectoryEntry& entry : entries) {
    if (!entry.isDirectory) continue;
    const std::string name = narrow_lib(entry.name);
    collect_directories(backupDir + name + "/", catalogDir + name + "/", out);
  }
}

// Removes this user's hidden temporaries from `directory` (no link is
// followed: only regular files are removed).
void remove_hidden_temporaries(const std::string& directory) {
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return;
  const uid_t me = ::geteuid();
  while (struct dirent* entry = ::readdir(dir)) {
    if (!is_hidden_temporary(entry->d_name)) continue;
    struct stat status;
    if (::fstatat(::dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(status.st_mode) && status.st_uid == me) {
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
  }
  ::closedir(dir);
}

}  // namespace

unsigned recover_dead_runs(const wstring& tempDir, int catalogFd) {
  struct stat catalogStatus;
  if (::fstat(catalogFd, &catalogStatus) != 0) return 0;
  const std::string temp = narrow_lib(tempDir);
  DIR* dir = ::opendir(temp.c_str());
  if (dir == nullptr) return 0;
  unsigned recovered = 0;
  const uid_t me = ::geteuid();
  while (struct dirent* entry = ::readdir(dir)) {
    if (!is_backup_tree_name(entry->d_name)) continue;
    struct stat tree;
    if (::fstatat(::dirfd(dir), entry->d_name, &tree, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(tree.st_mode) || tree.st_uid != me || (tree.st_mode & 077) != 0) {
      continue;
    }
    const std::string treePath = temp + entry->d_name + "/";
    const int fd = ::open((treePath + kRunJournalName).c_str(),
                          O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      // A run killed between making its tree and its journal leaves the
      // tree empty; rmdir takes only an empty one (a live run in that
      // instant picks another number).
      if (errno == ENOENT) ::unlinkat(::dirfd(dir), entry->d_name, AT_REMOVEDIR);
      continue;
    }
    struct stat journalStatus;
    // The lock is free only once its run has ended; a journal unlinked
    // meanwhile belongs to a run that ended well and must not be replayed.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &journalStatus) != 0 ||
        !S_ISREG(journalStatus.st_mode) || journalStatus.st_uid != me ||
        journalStatus.st_nlink == 0) {
      ::close(fd);
      continue;
    }
    JournalContents contents;
    if (!RunJournal::read(fd, contents)) {
      // Died before its first record: it did nothing yet, whatever catalog
      // it meant. Only its empty tree is left to remove.
      RollbackRecord empty;
      empty.backupDir = widen_lib(treePath);
      Rollback tidy;
      tidy.adopt(empty);
      tidy.removeBackupTree();
      ::close(fd);
      continue;
    }
    struct stat recorded;
    if (::stat(narrow_lib(contents.catalog).c_str(), &recorded) != 0 ||
        recorded.st_dev != catalogStatus.st_dev || recorded.st_ino != catalogStatus.st_ino) {
      ::close(fd);
      continue;
    }
    RollbackRecord record;
    record.targetDir = contents.catalog;
    if (record.targetDir.empty() || record.targetDir.back() != u'/') record.targetDir += u"/";
    record.backupDir = widen_lib(treePath);
    for (const wstring& path : contents.createdDirs) {
      if (inside(record.targetDir, path)) record.createdDirs.push_back(path);
    }
    for (const wstring& path : contents.addedFiles) {
      if (inside(record.targetDir, path)) record.addedFiles.push_back(path);
    }
    for (const wstring& path : contents.temporaries) {
      if (inside(record.targetDir, path)) record.temporaries.push_back(path);
    }
    // A move killed halfway leaves its copy under a hidden name that the
    // journal may not hold; the places the run worked in are swept for it.
    std::set<std::string> places;
    collect_directories(treePath, narrow_lib(record.targetDir), places);
    for (const wstring& path : record.temporaries) {
      const std::string narrow = narrow_lib(path);
      places.insert(narrow.substr(0, narrow.rfind('/') + 1));
    }
    Rollback rollback;
    rollback.adopt(record);
    if (contents.committed) {
      rollback.removeBackupTree();
    } else {
      rollback.rollback(0);
    }
    for (const std::string& place : places) remove_hidden_temporaries(place);
    ::close(fd);  // the tree, journal included, is gone unless a restore failed
    ++recovered;
  }
  ::closedir(dir);
  return recovered;
}
