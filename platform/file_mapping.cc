#include "platform/file_mapping.h"

#include <sys/mman.h>

#include <cerrno>

FileMapping::~FileMapping() {
  if (m_data != nullptr) munmap(m_data, m_size);
}

Status FileMapping::map(int fd, size_t size) {
  void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (data == MAP_FAILED) return status_of_errno(errno, wstring());
  m_data = data;
  m_size = size;
  return Status();
}

void FileMapping::releaseBelow(size_t consumed) {
  constexpr size_t kRelease = 1u << 20;
  const size_t end = consumed / kRelease * kRelease;
  if (m_data == nullptr || end <= m_released) return;
  madvise(static_cast<uint8_t*>(m_data) + m_released, end - m_released, MADV_DONTNEED);
  m_released = end;
}
