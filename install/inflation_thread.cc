#include "install/inflation_thread.h"

#include "platform/error_codes.h"

namespace {
// Bytes inflated between two reports of progress (and looks at a stop).
constexpr uint64_t kPiece = 1u << 20;
}  // namespace

void InflationThread::start(std::unique_ptr<KitInflation> inflation, void* destination) {
  stop();
  m_produced = inflation->produced();
  m_ended = false;
  m_stopRequested = false;
  m_code = kErrorSuccess;
  m_thread = std::thread(&InflationThread::run, this, std::move(inflation), destination);
}

void InflationThread::run(std::unique_ptr<KitInflation> inflation, void* destination) {
  unsigned code = kErrorSuccess;
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      if (m_stopRequested) break;
    }
    const uint64_t before = inflation->produced();
    code = inflation->inflateTo(destination, before + kPiece);
    const uint64_t now = inflation->produced();
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_produced = now;
    }
    m_moved.notify_all();
    if (code != kErrorSuccess || now == before) break;
  }
  // Nothing is left to inflate: the whole kit is checked.
  if (code == kErrorSuccess) code = inflation->finishTo(destination);
  inflation.reset();
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_ended = true;
    m_code = m_stopRequested && code == kErrorSuccess ? kErrorCancelled : code;
  }
  m_moved.notify_all();
}

unsigned InflationThread::waitFor(uint64_t end) {
  std::unique_lock<std::mutex> hold(m_lock);
  m_moved.wait(hold, [&] { return m_produced >= end || m_ended; });
  if (m_produced >= end) return kErrorSuccess;
  return m_code != kErrorSuccess ? m_code : kErrorInvalidData;
}

bool InflationThread::failed() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_ended && m_code != kErrorSuccess;
}

unsigned InflationThread::finish() {
  if (!m_thread.joinable()) return kErrorSuccess;
  m_thread.join();
  return m_code;
}

void InflationThread::stop() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_stopRequested = true;
  }
  m_thread.join();
}
