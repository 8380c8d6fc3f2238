// Putting many files on disk at once. One blocking fsync after another
// waits for the disk once per file; handed to the kernel together, the
// syncs overlap, the file system commits them in one go and the disk's
// cache is flushed a few times instead of once per file.
//
// Any thread; the descriptors stay the caller's and must stay open until
// the call returns.
#ifndef QXR8_PLATFORM_BATCH_SYNC_H_
#define QXR8_PLATFORM_BATCH_SYNC_H_

#include <cstddef>
#include <cstdint>
#include <vector>

// fsync of every descriptor of `fds` (data, and metadata such as times),
// submitted together through the kernel's asynchronous I/O where it can
// sync that way, else one after another. `errors` gets, for each
// descriptor, 0 or the errno of its sync; EINVAL (a descriptor that cannot
// be synced, with nothing of its own to put on a disk) counts as 0.
void sync_descriptors(const std::vector<int>& fds, std::vector<int>& errors);

// Syncs handed to the kernel now and waited for later, so that the caller
// goes on working while the disk catches up: an installation stages its
// next group of files while the last one syncs. A process has one such
// batch in flight at a time (a second waits in submit for the first's
// wait); the descriptors must stay open until wait returns. Used by one
// thread; the destructor waits for what is still in flight.
class BackgroundSyncs {
 public:
  // The most syncs one submit takes at once.
  static constexpr size_t kMaxInFlight = 1024;

  BackgroundSyncs();
  ~BackgroundSyncs();
  BackgroundSyncs(const BackgroundSyncs&) = delete;
  BackgroundSyncs& operator=(const BackgroundSyncs&) = delete;

  // fsync of every descriptor of `fds` (at most kMaxInFlight), submitted
  // together; where the kernel will not take them so, they are synced one
  // after another now. Returns at once otherwise.
  void submit(const std::vector<int>& fds);
  // Waits for every sync submitted; `errors` gets, in submission order, 0
  // or each one's errno (EINVAL counts as 0, as for sync_descriptors).
  void wait(std::vector<int>& errors);
  bool inFlight() const { return !m_fds.empty(); }

 private:
  std::vector<int> m_fds;
  std::vector<int> m_errors;      // filled by syncs done at submit
  std::vector<bool> m_submitted;  // which went to the kernel
  uint32_t m_call = 0;
  bool m_holding = false;
};

#endif  // QXR8_PLATFORM_BATCH_SYNC_H_
