// Whether a file holds exactly the bytes of a kit entry: both read side by
// side, a chunk at a time, never the whole file in memory. The check and
// the removal ask it of the files they would call the kit's.
//
// One thread uses an EntryComparison at a time; the kit must not be used by
// another thread meanwhile.
#ifndef QXR8_INSTALL_ENTRY_COMPARISON_H_
#define QXR8_INSTALL_ENTRY_COMPARISON_H_

#include <cstdint>
#include <memory>

#include "install/install_data.h"
#include "platform/file.h"
#include "platform/status.h"

class EntryComparison {
 public:
  // `same` gets whether `file` (open for reading) holds the bytes of entry
  // `index` of `kit` (complete), no more and no fewer: a file that grew
  // since it was looked at is not the kit's. Success; or a failed read,
  // of the kit (87 for a reader that is not complete, named after the kit)
  // or of the file (File::readAt's Status).
  Status compare(const KitReader& kit, unsigned long index, const File& file, bool& same);

 private:
  // Made at the first comparison, one byte larger than a chunk.
  std::unique_ptr<uint8_t[]> m_kitBytes;
  std::unique_ptr<uint8_t[]> m_fileBytes;
};

#endif  // QXR8_INSTALL_ENTRY_COMPARISON_H_
