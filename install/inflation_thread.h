// The rest of a kit inflated on a thread of its own while the run writes
// out the entries whose bytes have already arrived: the inflation of the
// data area and the placement of files overlap, as a decompressor piped
// into an extractor does.
//
// The owner's thread calls every member; the inflation thread touches only
// the KitInflation and the destination handle it was given.
#ifndef QXR8_INSTALL_INFLATION_THREAD_H_
#define QXR8_INSTALL_INFLATION_THREAD_H_

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "install/kit_inflation.h"

class InflationThread {
 public:
  InflationThread() = default;
  // Stops and waits for a thread still running.
  ~InflationThread() { stop(); }
  InflationThread(const InflationThread&) = delete;
  InflationThread& operator=(const InflationThread&) = delete;

  // Starts inflating the rest of `inflation` (taken) into `destination`, a
  // FileSystem handle open for writing at the end of what was already
  // unpacked, which the caller keeps open until finish() or stop().
  void start(std::unique_ptr<KitInflation> inflation, void* destination);

  bool started() const { return m_thread.joinable(); }

  // Blocks until `end` bytes have been unpacked in all (counted from the
  // first), or the inflation has ended. 0 when they are there; else the
  // inflation's failure code, or 13 when it ended short of `end`.
  unsigned waitFor(uint64_t end);

  // Waits for the end of the inflation; its code, as KitInflation::finishTo
  // gives it (0 for a kit found whole).
  unsigned finish();

  // Whether the inflation has ended in a failure.
  bool failed();

  // Asks the inflation to stop at its next piece and waits for it.
  void stop();

 private:
  void run(std::unique_ptr<KitInflation> inflation, void* destination);

  std::thread m_thread;
  std::mutex m_lock;
  std::condition_variable m_moved;
  uint64_t m_produced = 0;
  bool m_ended = false;
  bool m_stopRequested = false;
  unsigned m_code = 0;
};

#endif  // QXR8_INSTALL_INFLATION_THREAD_H_
