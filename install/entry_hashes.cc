#include "install/entry_hashes.h"

#include <algorithm>
#include <memory>

namespace {

constexpr size_t kReadPiece = 1u << 20;

}  // namespace

Status hash_file(const File& file, FileHash& out, uint64_t& size) {
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadPiece]);
  FileHasher hasher;
  size = 0;
  for (;;) {
    size_t got = 0;
    const Status status = file.readAt(size, buffer.get(), kReadPiece, got);
    if (!status.ok()) return status;
    if (got == 0) break;
    hasher.update(buffer.get(), got);
    size += got;
  }
  out = hasher.finish();
  return Status();
}

EntryHashes::EntryHashes(InflationOutput& inner, uint64_t position,
                         const std::vector<config::KitEntry>& entries)
    : m_inner(inner),
      m_position(position),
      m_entries(entries),
      m_hashes(entries.size()),
      m_done(entries.size(), false) {
  std::vector<size_t> byOffset(entries.size());
  for (size_t i = 0; i < byOffset.size(); ++i) byOffset[i] = i;
  std::stable_sort(byOffset.begin(), byOffset.end(), [&](size_t a, size_t b) {
    return entries[a].offset < entries[b].offset;
  });
  // The pass takes a chain of entries that neither overlap nor begin
  // before its first byte; the others are read back on demand.
  uint64_t end = position;
  for (size_t index : byOffset) {
    const config::KitEntry& entry = entries[index];
    if (entry.offset < end) continue;
    m_order.push_back(index);
    end = static_cast<uint64_t>(entry.offset) + entry.size;
  }
  // Empty entries before the first byte written are finished at once.
  feed(nullptr, 0);
}

Status EntryHashes::write(const uint8_t* data, size_t size) {
  const Status status = m_inner.write(data, size);
  if (status.ok()) feed(data, size);
  return status;
}

void EntryHashes::feed(const uint8_t* data, size_t size) {
  const uint64_t end = m_position + size;
  while (m_next < m_order.size()) {
    const size_t index = m_order[m_next];
    const config::KitEntry& entry = m_entries[index];
    const uint64_t first = entry.offset;
    const uint64_t last = first + entry.size;
    if (first >= end && entry.size != 0) break;
    if (first > end) break;
    const uint64_t from = std::max(first, m_position);
    const uint64_t to = std::min(last, end);
    if (to > from) m_current.update(data + (from - m_position), static_cast<size_t>(to - from));
    if (last > end) break;
    m_hashes[index] = m_current.finish();
    m_done[index] = true;
    m_current = FileHasher();
    ++m_next;
  }
  m_position = end;
}

Status EntryHashes::hashOf(size_t index, const File& unpacked, FileHash& out) {
  if (index >= m_entries.size()) return error_status(kErrorInvalidParameter);
  if (!m_done[index]) {
    const config::KitEntry& entry = m_entries[index];
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadPiece]);
    FileHasher hasher;
    for (uint64_t done = 0; done < entry.size;) {
      size_t got = 0;
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kReadPiece, entry.size - done));
      const Status status = unpacked.readAt(entry.offset + done, buffer.get(), want, got);
      if (!status.ok()) return status;
      if (got == 0) return error_status(kErrorInvalidData, unpacked.path());
      hasher.update(buffer.get(), got);
      done += got;
    }
    m_hashes[index] = hasher.finish();
    m_done[index] = true;
  }
  out = m_hashes[index];
  return Status();
}
