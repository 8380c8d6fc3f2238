#include "install/inflation_thread.h"

#include <functional>

#include "platform/error_codes.h"
#include "platform/text_encoding.h"

namespace {
// Bytes inflated between two reports of progress (and looks at a stop).
constexpr uint64_t kPiece = 1u << 20;
}  // namespace

void InflationThread::start(std::unique_ptr<KitInflation> inflation,
                            InflationOutput& destination) {
  stop();
  m_produced = inflation->produced();
  m_ended = false;
  m_stopRequested = false;
  m_status = Status();
  m_source = inflation->source();
  m_thread = std::thread(&InflationThread::run, this, std::move(inflation), std::ref(destination));
}

void InflationThread::run(std::unique_ptr<KitInflation> inflation,
                          InflationOutput& output) {
  Status status;
  bool stopped = false;
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      stopped = m_stopRequested;
    }
    if (stopped) break;
    const uint64_t before = inflation->produced();
    status = inflation->inflateTo(output, before + kPiece);
    const uint64_t now = inflation->produced();
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_produced = now;
    }
    m_moved.notify_all();
    if (!status.ok() || now == before) break;
  }
  // Nothing is left to inflate: the whole kit is checked.
  if (status.ok() && !stopped) status = inflation->finishTo(output);
  inflation.reset();
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_ended = true;
    m_status = stopped && status.ok() ? error_status(kErrorCancelled, m_source) : status;
  }
  m_moved.notify_all();
}

Status InflationThread::waitFor(uint64_t end) {
  std::unique_lock<std::mutex> hold(m_lock);
  m_moved.wait(hold, [&] { return m_produced >= end || m_ended; });
  if (m_produced >= end) return Status();
  if (!m_status.ok()) return m_status;
  Status status = error_status(kErrorInvalidData, m_source);
  status.note = widen_lib("the kit ends before the entry's last byte");
  return status;
}

bool InflationThread::failed() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_ended && !m_status.ok();
}

Status InflationThread::finish() {
  if (!m_thread.joinable()) return Status();
  m_thread.join();
  return m_status;
}

void InflationThread::stop() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_stopRequested = true;
  }
  m_thread.join();
}
