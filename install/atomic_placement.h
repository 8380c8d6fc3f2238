// Putting a complete file in place: the bytes are written under a hidden
// temporary name in the destination's own directory (exclusive creation,
// never through a link), the file gets its length and time there, and only
// then is it renamed over the destination. No partial file ever stands
// under the destination's name, and a time is only ever set on complete
// content. A failure removes the temporary and leaves the destination as
// it was.
//
// No shared state; any thread, each with its own buffer.
#ifndef QXR8_INSTALL_ATOMIC_PLACEMENT_H_
#define QXR8_INSTALL_ATOMIC_PLACEMENT_H_

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

struct PlacementSource {
  int fd = -1;           // read by position; its file offset is not used
  uint64_t offset = 0;   // first byte
  uint64_t size = 0;     // bytes to place
  long mtime = 0;        // Unix seconds, set as access and modification time
  mode_t mode = 0660;    // creation mode (the umask applies)
};

struct PlacementResult {
  unsigned code = 0;      // 0, 112 disk full, 223 file too large, 13 source ended early, ...
  int systemError = 0;    // errno behind the code, 0 when none
  dev_t device = 0;       // identity of the placed file (valid on success)
  ino_t inode = 0;
};

// Places `source` as `name` in the open directory `dirFd`. `beforeCreate`
// is called with the temporary's name (relative to `dirFd`) before it is
// created and may veto with a nonzero code (a journal that cannot record
// it). `buffer` of `bufferSize` bytes is used only when the system cannot
// copy between the files by itself. The caller keeps `dirFd`.
PlacementResult place_file(int dirFd, const std::string& name, const PlacementSource& source,
                           void* buffer, size_t bufferSize,
                           const std::function<unsigned(const std::string&)>& beforeCreate);

// The Windows-style code for a failed write-side errno: 112 for a full disk
// or quota, 223 for a file past the size limit, else the layer's rule.
unsigned placement_code_of_errno(int err);

#endif  // QXR8_INSTALL_ATOMIC_PLACEMENT_H_
