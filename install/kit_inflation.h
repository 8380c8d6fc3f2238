// A kit file inflated into an open file in steps: as far as the caller
// needs (for example just past the file table), and the rest later, with
// the integrity trailer (kit_trailer.h) checked on the way. LZCompressor's
// readings and the kit reader's (kit_file_reader.h) are this inflation, so
// all share one loop.
//
// Between steps the object holds the kit open and mapped (read-only,
// private) and one inflate stream, all released by close() or the
// destructor; nothing of it outlives the process. One thread at a time.
//
// Every byte of the kit file can pass an observer (a hash of the file, for
// instance): the bytes the inflater took, as it takes them, from the very
// mapping it reads, so that the bytes observed are the bytes used.
#ifndef QXR8_INSTALL_KIT_INFLATION_H_
#define QXR8_INSTALL_KIT_INFLATION_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "install/kit_trailer.h"
#include "platform/file.h"
#include "platform/status.h"
#include "platform/wstring.h"

// Told the bytes of a kit file from offset 0 on, each once, in order.
using KitSourceObserver = std::function<void(const uint8_t* data, size_t size)>;

// Where an inflation's bytes go: written in order, each piece after the
// one before.
class InflationOutput {
 public:
  virtual ~InflationOutput() = default;
  // The descriptor written to: its file system's room is asked before the
  // bytes are written.
  virtual int descriptor() const = 0;
  // Writes all of `data`; the failed write's Status otherwise.
  virtual Status write(const uint8_t* data, size_t size) = 0;
};

// An open File of the caller's, written from its current position; it
// stays the caller's and must outlive the output.
class FileOutput final : public InflationOutput {
 public:
  explicit FileOutput(File& file) : m_file(file) {}
  int descriptor() const override { return m_file.descriptor(); }
  Status write(const uint8_t* data, size_t size) override { return m_file.writeAll(data, size); }

 private:
  File& m_file;
};

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
  // describes it and whatever follows its end is ignored. `observer`, when
  // set, is told the file's bytes as the steps below take them (on the
  // thread that runs the step). Returns ok; the failed open's Status (code
  // 2 and ENOENT for a missing kit), naming `source`; 13 for a kit of 4 GiB
  // or more or a trailer no kit can have; 87 (or the errno's code) when it
  // cannot be mapped. An empty source is fine: it unpacks to nothing.
  // Closes whatever was open before.
  Status begin(const wstring& source, bool checked, KitSourceObserver observer = nullptr);

  // The trailer split off by a checked begin; version 0 when there is none.
  const config::KitTrailer& trailer() const;
  // The path begin was given; empty before.
  const wstring& source() const;

  // Inflates into `destination` until `limit` bytes have been unpacked
  // since begin or the stream ends; produced() tells how far it got. The
  // observer has then seen the file up to the last byte the inflater took.
  // Returns ok; the failed write's Status; 112 when the next piece would
  // not fit on the destination's file system (nothing of it is written);
  // 13, naming the kit with a note, for data that is not raw deflate, that
  // would unpack beyond kMaxUnpackedKitSize, or, with a version 2 trailer,
  // whose bytes up to the trailer's table end do not have its table CRC-32
  // (checked when the output reaches that end). A failure is final: every
  // later call answers the same Status.
  Status inflateTo(InflationOutput& destination, uint64_t limit);

  // Bytes unpacked since begin.
  uint64_t produced() const;

  // Inflates the rest into `destination`, lets the observer see the rest
  // of the file (the trailer, or what follows a stream without one), and
  // checks that the kit is whole (KitTrailerCheck::checkWhole, for a
  // checked reading). Returns that or inflateTo's Status; closes
  // everything in every case. After a failure the observer has seen a
  // prefix of the file, possibly all of it.
  Status finishTo(InflationOutput& destination);

  // Lets the observer see the rest of the file, from the first byte the
  // inflater has not taken to the end, without inflating it: for a reader
  // that will never need the rest. Every later step then fails with 87,
  // since the bytes it would inflate would no longer be the bytes observed.
  // Ok, or the earlier failure (87 before begin).
  Status observeRest();

  // Releases the stream, the mapping and the kit; a later call needs a
  // new begin.
  void close();

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

#endif  // QXR8_INSTALL_KIT_INFLATION_H_
