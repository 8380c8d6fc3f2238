// A read-only private mapping of the start of an open file, released when
// the object goes. One thread uses an object at a time.
#ifndef QXR8_PLATFORM_FILE_MAPPING_H_
#define QXR8_PLATFORM_FILE_MAPPING_H_

#include <cstddef>
#include <cstdint>

#include "platform/status.h"

class FileMapping {
 public:
  FileMapping() = default;
  ~FileMapping();
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;

  // Maps the first `size` bytes (not 0) of the open descriptor `fd`; the
  // caller keeps `fd`. Fails with the code and errno of mmap.
  Status map(int fd, size_t size);

  const uint8_t* data() const { return static_cast<const uint8_t*>(m_data); }
  size_t size() const { return m_size; }

  // Drops the pages below `consumed` that a reader going forward has read
  // for good, so that the resident part stays a window of about 1 MiB
  // however large the file is; they come back from the file if touched
  // again.
  void releaseBelow(size_t consumed);

 private:
  void* m_data = nullptr;
  size_t m_size = 0;
  size_t m_released = 0;
};

#endif  // QXR8_PLATFORM_FILE_MAPPING_H_
