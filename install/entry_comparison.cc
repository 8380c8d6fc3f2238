#include "install/entry_comparison.h"

#include <cstring>

namespace {
// Bytes compared at a time, from each side.
constexpr size_t kCompareChunk = 65536;
}  // namespace

Status EntryComparison::compare(const KitReader& kit, unsigned long index, const File& file,
                                bool& same) {
  same = false;
  if (index >= kit.entries.size()) return error_status(kErrorInvalidParameter, kit.kitPath());
  if (!m_kitBytes) {
    m_kitBytes.reset(new uint8_t[kCompareChunk + 1]);
    m_fileBytes.reset(new uint8_t[kCompareChunk + 1]);
  }
  const uint64_t size = kit.entries[index].size;
  for (uint64_t position = 0;;) {
    size_t fromKit = 0;
    const unsigned code = kit.readEntry(index, position, m_kitBytes.get(), kCompareChunk, fromKit);
    const bool last = position + fromKit >= size;
    // A kit that ends inside the entry cannot be opened; this only keeps
    // the loop finite should it happen.
    if (code != kErrorSuccess || (fromKit == 0 && !last)) {
      return error_status(code != kErrorSuccess ? code : kErrorInvalidData, kit.kitPath());
    }
    // One byte more than the kit has at the end: a file that grew since it
    // was looked at is not the kit's.
    size_t fromFile = 0;
    const Status read = file.readAt(position, m_fileBytes.get(), fromKit + (last ? 1 : 0), fromFile);
    if (!read.ok()) return read;
    if (fromFile != fromKit || std::memcmp(m_kitBytes.get(), m_fileBytes.get(), fromKit) != 0) {
      return Status();
    }
    if (last) break;
    position += fromKit;
  }
  same = true;
  return Status();
}
