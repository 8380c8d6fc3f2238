// The rest of a kit inflated on a thread of its own while the run writes
// out the entries whose bytes have already arrived: the inflation of the
// data area and the placement of files overlap, as a decompressor piped
// into an extractor does.
//
// The owner's thread calls every member; the inflation thread touches only
// the KitInflation (and so its observer) and the destination it was given.
// Nothing of it outlives the process.
#ifndef QXR8_INSTALL_INFLATION_THREAD_H_
#define QXR8_INSTALL_INFLATION_THREAD_H_

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "install/kit_inflation.h"
#include "platform/file.h"
#include "platform/status.h"

class InflationThread {
 public:
  InflationThread() = default;
  // Stops and waits for a thread still running.
  ~InflationThread() { stop(); }
  InflationThread(const InflationThread&) = delete;
  InflationThread& operator=(const InflationThread&) = delete;

  // Starts inflating the rest of `inflation` (taken) into `destination`, a
  // File open for writing at the end of what was already unpacked, which
  // the caller keeps open and leaves alone (but for reads by position)
  // until finish() or stop() has returned.
  void start(std::unique_ptr<KitInflation> inflation, InflationOutput& destination);

  bool started() const { return m_thread.joinable(); }

  // Blocks until `end` bytes have been unpacked in all (counted from the
  // first), or the inflation has ended. Ok when they are there; else the
  // inflation's failure, or 13 naming the kit when it ended short of `end`.
  Status waitFor(uint64_t end);

  // Waits for the end of the inflation; its Status, as
  // KitInflation::finishTo gives it (ok for a kit found whole). When it
  // returns, the thread is gone and calls nothing any more.
  Status finish();

  // Whether the inflation has ended in a failure.
  bool failed();

  // Asks the inflation to stop at its next piece and waits for it (the
  // thread is gone when it returns); finish() would then answer 1223.
  void stop();

 private:
  void run(std::unique_ptr<KitInflation> inflation, InflationOutput& destination);

  std::thread m_thread;
  std::mutex m_lock;
  std::condition_variable m_moved;
  uint64_t m_produced = 0;
  bool m_ended = false;
  bool m_stopRequested = false;
  Status m_status;
  wstring m_source;  // the kit, for the failure of an entry that never came
};

#endif  // QXR8_INSTALL_INFLATION_THREAD_H_
