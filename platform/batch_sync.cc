#include "platform/batch_sync.h"

#include <linux/aio_abi.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

// Syncs submitted to the kernel at a time.
constexpr size_t kInFlight = 256;

int sync_one(int fd) {
  if (::fsync(fd) == 0 || errno == EINVAL) return 0;
  return errno;
}

long io_setup(unsigned count, aio_context_t* context) {
  return ::syscall(SYS_io_setup, count, context);
}
long io_submit(aio_context_t context, long count, iocb** blocks) {
  return ::syscall(SYS_io_submit, context, count, blocks);
}
long io_getevents(aio_context_t context, long least, long most, io_event* events) {
  return ::syscall(SYS_io_getevents, context, least, most, events, nullptr);
}

// One chunk of `fds` from `first`, at most kInFlight, through `context`;
// what the kernel does not take, or does not answer for, is synced one
// after another. Each sync carries `call` beside its index, so that an
// answer left over from an earlier call that gave up is never taken for
// one of this call's.
void sync_chunk(aio_context_t context, uint32_t call, const std::vector<int>& fds, size_t first,
                size_t count, std::vector<int>& errors) {
  std::vector<iocb> blocks(count);
  std::vector<iocb*> pointers(count);
  for (size_t i = 0; i < count; ++i) {
    std::memset(&blocks[i], 0, sizeof blocks[i]);
    blocks[i].aio_lio_opcode = IOCB_CMD_FSYNC;
    blocks[i].aio_fildes = static_cast<__u32>(fds[first + i]);
    blocks[i].aio_data = static_cast<__u64>(call) << 32 | i;
    pointers[i] = &blocks[i];
  }
  long submitted = 0;
  while (submitted < static_cast<long>(count)) {
    const long n = io_submit(context, static_cast<long>(count) - submitted, &pointers[submitted]);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    submitted += n;
  }
  std::vector<bool> answered(count, false);
  std::vector<io_event> events(count);
  for (long done = 0; done < submitted;) {
    const long n = io_getevents(context, 1, submitted - done, events.data());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (long i = 0; i < n; ++i) {
      const size_t index = static_cast<size_t>(events[i].data & 0xFFFFFFFFu);
      if (events[i].data >> 32 != call || index >= count || answered[index]) continue;
      answered[index] = true;
      ++done;
      const long result = static_cast<long>(events[i].res);
      errors[first + index] = result >= 0 || result == -EINVAL ? 0 : static_cast<int>(-result);
    }
  }
  for (size_t i = 0; i < count; ++i) {
    if (!answered[i]) errors[first + i] = sync_one(fds[first + i]);
  }
}

// The process's one context, made on first use and kept until the process
// ends: taking a context down waits for the kernel's grace period, tens of
// milliseconds, too long to pay per batch. Its users take turns, so that
// none collects another's completions.
struct SharedContext {
  std::mutex turn;
  aio_context_t context = 0;
  bool usable = false;
  uint32_t calls = 0;  // chunks submitted so far
};

SharedContext& shared_context() {
  static SharedContext* shared = [] {
    SharedContext* made = new SharedContext();
    made->usable = io_setup(kInFlight, &made->context) == 0;
    return made;
  }();
  return *shared;
}

// The context of background syncs: another than the blocking calls', so
// that neither ever collects the other's answers; big enough for a group.
SharedContext& background_context() {
  static SharedContext* shared = [] {
    SharedContext* made = new SharedContext();
    made->usable = io_setup(BackgroundSyncs::kMaxInFlight, &made->context) == 0;
    return made;
  }();
  return *shared;
}

}  // namespace

BackgroundSyncs::BackgroundSyncs() = default;

BackgroundSyncs::~BackgroundSyncs() {
  std::vector<int> ignored;
  wait(ignored);
}

void BackgroundSyncs::submit(const std::vector<int>& fds) {
  std::vector<int> ignored;
  wait(ignored);
  SharedContext& shared = background_context();
  shared.turn.lock();
  m_holding = true;
  m_call = ++shared.calls;
  m_fds.assign(fds.begin(), fds.begin() + std::min(fds.size(), kMaxInFlight));
  m_errors.assign(m_fds.size(), 0);
  m_submitted.assign(m_fds.size(), false);
  std::vector<iocb> blocks(m_fds.size());
  std::vector<iocb*> pointers(m_fds.size());
  for (size_t i = 0; i < m_fds.size(); ++i) {
    std::memset(&blocks[i], 0, sizeof blocks[i]);
    blocks[i].aio_lio_opcode = IOCB_CMD_FSYNC;
    blocks[i].aio_fildes = static_cast<__u32>(m_fds[i]);
    blocks[i].aio_data = static_cast<__u64>(m_call) << 32 | i;
    pointers[i] = &blocks[i];
  }
  long submitted = 0;
  while (shared.usable && m_fds.size() > 1 && submitted < static_cast<long>(m_fds.size())) {
    const long n = io_submit(shared.context, static_cast<long>(m_fds.size()) - submitted,
                             &pointers[submitted]);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    submitted += n;
  }
  for (long i = 0; i < submitted; ++i) m_submitted[static_cast<size_t>(i)] = true;
  // What the kernel did not take is synced now.
  for (size_t i = static_cast<size_t>(submitted); i < m_fds.size(); ++i) {
    m_errors[i] = sync_one(m_fds[i]);
  }
}

void BackgroundSyncs::wait(std::vector<int>& errors) {
  errors.clear();
  if (!m_holding) return;
  SharedContext& shared = background_context();
  size_t outstanding = 0;
  for (const bool submitted : m_submitted) outstanding += submitted ? 1 : 0;
  std::vector<bool> answered(m_fds.size(), false);
  std::vector<io_event> events(std::max<size_t>(outstanding, 1));
  for (size_t done = 0; done < outstanding;) {
    const long n = io_getevents(shared.context, 1, static_cast<long>(outstanding - done),
                                events.data());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (long i = 0; i < n; ++i) {
      const size_t index = static_cast<size_t>(events[i].data & 0xFFFFFFFFu);
      if (events[i].data >> 32 != m_call || index >= m_fds.size() || answered[index]) continue;
      answered[index] = true;
      ++done;
      const long result = static_cast<long>(events[i].res);
      m_errors[index] = result >= 0 || result == -EINVAL ? 0 : static_cast<int>(-result);
    }
  }
  // A sync the kernel took but never answered for is done again.
  for (size_t i = 0; i < m_fds.size(); ++i) {
    if (m_submitted[i] && !answered[i]) m_errors[i] = sync_one(m_fds[i]);
  }
  errors = m_errors;
  m_fds.clear();
  m_errors.clear();
  m_submitted.clear();
  m_holding = false;
  shared.turn.unlock();
}

void sync_descriptors(const std::vector<int>& fds, std::vector<int>& errors) {
  errors.assign(fds.size(), 0);
  // One sync or none needs no context: a process that never syncs more
  // than one at a time never makes one (and never pays for its end).
  if (fds.size() < 2) {
    for (size_t i = 0; i < fds.size(); ++i) errors[i] = sync_one(fds[i]);
    return;
  }
  SharedContext& shared = shared_context();
  std::lock_guard<std::mutex> hold(shared.turn);
  for (size_t first = 0; first < fds.size(); first += kInFlight) {
    const size_t count = fds.size() - first < kInFlight ? fds.size() - first : kInFlight;
    if (shared.usable && count > 1) {
      sync_chunk(shared.context, ++shared.calls, fds, first, count, errors);
    } else {
      for (size_t i = first; i < first + count; ++i) errors[i] = sync_one(fds[i]);
    }
  }
}
