// What `xdktool pack --exclude` and `--exclude-vcs` leave out of a kit: an
// author's tree holds editor backups, desktop litter and version-control
// folders that must never reach a catalog. Plain values; any thread.
#ifndef QXR8_TOOLS_PACK_EXCLUSIONS_H_
#define QXR8_TOOLS_PACK_EXCLUSIONS_H_

#include <string>
#include <vector>

class PackExclusions {
 public:
  // Adds a shell-style pattern (fnmatch; "*" and "?" never match "/").
  // A pattern with a "/" inside is matched against the whole path relative
  // to the packed folder ("/" first anchors it there and is dropped); one
  // without is matched against the last name alone, at any depth. A final
  // "/" means folders only. Returns false, adding nothing, when nothing is
  // left of the pattern to match.
  bool add(const std::string& pattern);
  // Adds the names of the version-control systems' folders and files.
  void addVersionControl();

  // Whether the entry at `relative` ("/" between names, no "/" first or
  // last) is left out; a folder left out is left out whole, so the walk
  // does not enter it.
  bool excludes(const std::string& relative, bool isFolder) const;

 private:
  struct Pattern {
    std::string text;
    bool wholePath;
    bool foldersOnly;
  };
  std::vector<Pattern> m_patterns;
};

#endif  // QXR8_TOOLS_PACK_EXCLUSIONS_H_
