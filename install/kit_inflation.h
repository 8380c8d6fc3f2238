// A kit file inflated into an open file in steps: as far as the caller
// needs (for example just past the file table), and the rest later, with
// the integrity trailer (kit_trailer.h) checked on the way. LZCompressor's
// readings are this inflation run in one step, so both share one loop.
//
// Between steps the object holds the kit open and mapped (read-only,
// private) and one inflate stream, all released by close() or the
// destructor; nothing of it outlives the process. One thread at a time.
#ifndef QXR8_INSTALL_KIT_INFLATION_H_
#define QXR8_INSTALL_KIT_INFLATION_H_

#include <cstdint>
#include <memory>

#include "install/kit_trailer.h"
#include "platform/wstring.h"

class KitInflation {
 public:
  KitInflation();
  ~KitInflation();
  KitInflation(const KitInflation&) = delete;
  KitInflation& operator=(const KitInflation&) = delete;

  // Opens and maps `source` (anything but a regular file is refused with
  // 87 before it is opened, so a FIFO cannot block) and starts the stream.
  // `checked` is the kit reader's reading: a trailer at the end of the file
  // is split off and checked, and bytes after the end of a stream without
  // one are damage; unchecked, the stream is read as the format alone
  // describes it and whatever follows its end is ignored. Returns 0, the
  // code of the failed open (2 for a missing kit), 13 for a kit of 4 GiB
  // or more, or 87 (or the errno's code) when it cannot be mapped. An
  // empty source is fine: it unpacks to nothing. Closes whatever was open
  // before.
  unsigned begin(const wstring& source, bool checked);

  // The trailer split off by a checked begin; version 0 when there is none.
  const config::KitTrailer& trailer() const;

  // Inflates into `destination`, a FileSystem handle open for writing that
  // stays the caller's (bytes go to its current position), until `limit`
  // bytes have been unpacked since begin or the stream ends; produced()
  // tells how far it got. Returns 0; the failed write's code; 112 when the
  // next piece would not fit on the destination's file system (nothing of
  // it is written); 13 for data that is not raw deflate, that would unpack
  // beyond kMaxUnpackedKitSize, or, with a version 2 trailer, whose bytes
  // up to the trailer's table end do not have its table CRC-32 (checked
  // when the output reaches that end). A failure is final: every later
  // call answers the same code.
  unsigned inflateTo(void* destination, uint64_t limit);

  // Bytes unpacked since begin.
  uint64_t produced() const;

  // Inflates the rest into `destination` and checks that the kit is whole.
  // With a trailer the stream must end, with its end-of-stream block,
  // exactly where the trailer begins and unpack to its length and CRC-32
  // (and, version 2, to a table end within that length); without one (a
  // checked reading) nothing may follow the end of the stream; else 13.
  // Returns that or inflateTo's codes; closes everything in every case.
  unsigned finishTo(void* destination);

  // Releases the stream, the mapping and the kit; a later call needs a
  // new begin.
  void close();

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

#endif  // QXR8_INSTALL_KIT_INFLATION_H_
