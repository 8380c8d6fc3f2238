#include "tools/pack_exclusions.h"

#include <fnmatch.h>

bool PackExclusions::add(const std::string& pattern) {
  Pattern entry{pattern, false, false};
  if (!entry.text.empty() && entry.text.back() == '/') {
    entry.foldersOnly = true;
    while (!entry.text.empty() && entry.text.back() == '/') entry.text.pop_back();
  }
  if (!entry.text.empty() && entry.text.front() == '/') {
    entry.wholePath = true;
    entry.text.erase(0, entry.text.find_first_not_of('/'));
  }
  if (entry.text.empty()) return false;
  if (entry.text.find('/') != std::string::npos) entry.wholePath = true;
  m_patterns.push_back(entry);
  return true;
}

void PackExclusions::addVersionControl() {
  // Exact names: none of them holds a character that fnmatch treats
  // specially.
  static const char* const kNames[] = {
      ".git",  ".gitignore", ".gitattributes", ".gitmodules", ".hg",        ".hgignore",
      ".hgtags", ".svn",     ".bzr",           ".bzrignore",  ".bzrtags",   "CVS",
      ".cvsignore", "RCS",   "SCCS",           "_darcs",      ".arch-ids",  "{arch}"};
  for (const char* name : kNames) m_patterns.push_back(Pattern{name, false, false});
}

bool PackExclusions::excludes(const std::string& relative, bool isFolder) const {
  const size_t slash = relative.rfind('/');
  const char* name = relative.c_str() + (slash == std::string::npos ? 0 : slash + 1);
  for (const Pattern& pattern : m_patterns) {
    if (pattern.foldersOnly && !isFolder) continue;
    const char* subject = pattern.wholePath ? relative.c_str() : name;
    if (fnmatch(pattern.text.c_str(), subject, FNM_PATHNAME) == 0) return true;
  }
  return false;
}
