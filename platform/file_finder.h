// Directory enumeration in the style of FindFirstFile/FindNextFile.
// One thread uses a finder at a time.
#ifndef QXR8_PLATFORM_FILE_FINDER_H_
#define QXR8_PLATFORM_FILE_FINDER_H_

#include <dirent.h>
#include <sys/stat.h>

#include <string>

#include "platform/wstring.h"

// The only attribute bit FileFinder reports (Windows FILE_ATTRIBUTE_DIRECTORY).
inline constexpr unsigned kFileAttributeDirectory = 0x10;

class FileFinder {
 public:
  FileFinder();
  ~FileFinder();  // close()
  FileFinder(const FileFinder&) = delete;
  FileFinder& operator=(const FileFinder&) = delete;

  // Starts a new search (closing one still open). `searchPath` is split at
  // its last "/" into directory and fnmatch pattern (FNM_NOESCAPE); without
  // a "/" both are the whole text, and "/name" searches the root. Returns
  // the result of next(), false when the directory cannot be opened or the
  // path has no exact name on the system (to_system_path).
  bool reset(const wstring& searchPath);
  // Advances to the next matching entry ("." and ".." included) and returns
  // whether its status could be read: links are followed, and a link whose
  // target is missing reports its own status (so it counts as an existing,
  // non-directory entry and does not cut an enumeration short). False at the
  // end, which closes the finder.
  bool next();
  // The current entry's name; empty when closed.
  wstring name() const;
  // 0x10 when open and the current entry is a directory; 0 otherwise.
  unsigned attributes() const;
  void close();

 private:
  DIR* m_dir;
  std::string m_pattern;
  std::string m_directory;
  std::string m_searchPath;
  std::string m_name;
  struct stat m_stat;
};

#endif  // QXR8_PLATFORM_FILE_FINDER_H_
