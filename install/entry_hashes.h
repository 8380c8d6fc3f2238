// The hash of every file of a kit, taken from the bytes the kit reader
// unpacks, as they are written: what a catalog's record of the kit keeps of
// each file, so that a later removal or check knows the kit's bytes without
// the kit. Entries are hashed in one pass over the data area while it is
// inflated, in order of their offsets; an entry the pass cannot take (the
// data area was unpacked before the hashing began, or two entries share
// bytes) is hashed on demand from the unpacked kit instead.
//
// Threads: write() runs on the thread that inflates (the reader's
// inflation thread during a background completion); hashOf() on the
// reader's thread once the kit is whole, when write() is no longer called.
#ifndef QXR8_INSTALL_ENTRY_HASHES_H_
#define QXR8_INSTALL_ENTRY_HASHES_H_

#include <array>
#include <cstdint>
#include <vector>

#include "install/blake2b.h"
#include "install/kit_inflation.h"
#include "install/kit_table.h"
#include "platform/file.h"
#include "platform/status.h"

using FileHash = std::array<uint8_t, 32>;  // BLAKE2b-256 of a file's bytes

// BLAKE2b-256 of bytes fed in pieces.
using FileHasher = Blake2b<32>;

// The hash of everything `file` (open for reading) holds, read by
// position from its first byte to its end; `size` gets how many bytes
// that was. Ok, or the read's Status.
Status hash_file(const File& file, FileHash& out, uint64_t& size);

// Hashes the entries of an unpacked kit as its bytes pass to `inner`, an
// output whose bytes land at `position` of the unpacked kit onwards.
class EntryHashes final : public InflationOutput {
 public:
  // `entries` (absolute offsets in the unpacked kit) must outlive the
  // object and stay unchanged.
  EntryHashes(InflationOutput& inner, uint64_t position,
              const std::vector<config::KitEntry>& entries);

  int descriptor() const override { return m_inner.descriptor(); }
  // Writes to `inner`, then hashes what was written.
  Status write(const uint8_t* data, size_t size) override;

  // The hash of entry `index`: from the pass, or read from `unpacked`
  // (which holds the whole kit) when the pass did not take it. Ok, 87 for
  // an index out of range, or the read's Status.
  Status hashOf(size_t index, const File& unpacked, FileHash& out);

 private:
  void feed(const uint8_t* data, size_t size);

  InflationOutput& m_inner;
  uint64_t m_position;
  const std::vector<config::KitEntry>& m_entries;
  std::vector<size_t> m_order;  // the entries the pass takes, by offset
  size_t m_next = 0;            // the first of m_order not yet finished
  FileHasher m_current;         // the hash of m_order[m_next] so far
  std::vector<FileHash> m_hashes;
  std::vector<bool> m_done;
};

#endif  // QXR8_INSTALL_ENTRY_HASHES_H_
