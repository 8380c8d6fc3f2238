#include "platform/file_finder.h"

#include <fnmatch.h>

#include <cstring>

#include "platform/system_path.h"

FileFinder::FileFinder() : m_dir(nullptr) { std::memset(&m_stat, 0, sizeof m_stat); }

FileFinder::~FileFinder() { close(); }

bool FileFinder::reset(const wstring& searchPath) {
  close();  // an earlier search must not keep its descriptor
  // A path with no exact name on the system finds nothing (rather than
  // the file of a look-alike name).
  if (!to_system_path(searchPath, m_searchPath)) return false;
  size_t slash = m_searchPath.rfind('/');
  if (slash == std::string::npos) {
    m_directory = m_searchPath;
    m_pattern = m_searchPath;
  } else {
    m_directory = m_searchPath.substr(0, slash);
    m_pattern = m_searchPath.substr(slash + 1);
  }
  m_name.clear();
  // "/x" splits into an empty directory: that is the root.
  m_dir = opendir(m_directory.empty() && slash == 0 ? "/" : m_directory.c_str());
  if (m_dir == nullptr) return false;
  return next();
}

bool FileFinder::next() {
  if (m_dir == nullptr) return false;
  while (struct dirent* entry = readdir(m_dir)) {
    int match = fnmatch(m_pattern.c_str(), entry->d_name, FNM_NOESCAPE);
    if (match == FNM_NOMATCH) continue;
    if (match != 0) return false;
    m_name = entry->d_name;
    std::string full = m_directory + "/" + m_name;
    return ::stat(full.c_str(), &m_stat) == 0 || ::lstat(full.c_str(), &m_stat) == 0;
  }
  close();
  return false;
}

wstring FileFinder::name() const { return m_dir == nullptr ? wstring() : from_system_path(m_name); }

unsigned FileFinder::attributes() const {
  if (m_dir == nullptr) return 0;
  return (m_stat.st_mode & 0x4000) ? kFileAttributeDirectory : 0u;
}

void FileFinder::close() {
  if (m_dir != nullptr) {
    closedir(m_dir);
    m_dir = nullptr;
  }
  m_name.clear();
  std::memset(&m_stat, 0, sizeof m_stat);
}
