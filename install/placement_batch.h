// Putting a group of staged entries in place durably, at the cost of a few
// waits for the disk per group rather than several per file. The order is
// what makes a power cut at any instant harmless: the staged files' data
// and times are on disk before any of them gets its name; the journal
// records of the files added where nothing stood are on disk before those
// names appear; and a replaced file is safely in the backup tree before
// the new copy takes its name.
//
// The install worker thread; one batch per run, used by one thread.
#ifndef QXR8_INSTALL_PLACEMENT_BATCH_H_
#define QXR8_INSTALL_PLACEMENT_BATCH_H_

#include <cstdint>
#include <set>
#include <vector>

#include "install/file_placement.h"
#include "install/install_failure.h"
#include "install/rollback.h"
#include "platform/status.h"
#include "platform/wstring.h"

class PlacementBatch {
 public:
  // A group is put in place once it holds this many files or bytes: the
  // bytes bound how long the group's syncs take, and how much the disk
  // holds twice for a while (the old copies and the staged ones).
  static constexpr size_t kMaxFiles = 1024;
  static constexpr uint64_t kMaxBytes = 128u << 20;
  // Staged files kept open from their writing until their sync; the others
  // are closed and opened again to be synced.
  static constexpr size_t kKeptOpen = 256;

  explicit PlacementBatch(Rollback& rollback) : m_rollback(rollback) {}
  PlacementBatch(const PlacementBatch&) = delete;
  PlacementBatch& operator=(const PlacementBatch&) = delete;

  // Takes a staged entry destined for `destination` (full path) of `size`
  // bytes, handled by the run at `percent`; `isNew` when nothing stood
  // there in the plan, `ownCopy` when what stands there is what this run
  // placed for an earlier entry (never backed up again). The entry counts
  // in `stats` as written from now on. `groupFull` says the group must be
  // put in place now. Fails (the file discarded) when a file that is not
  // kept open does not close cleanly.
  Status add(StagedFile staged, const wstring& destination, uint64_t size, unsigned long percent,
             bool isNew, bool ownCopy, InstallStats& stats, bool& groupFull);

  // Puts the group in place (see above); an entry found new or replaced
  // other than planned is counted again in `stats`. On failure the files of
  // the group not yet in place are discarded, the Status names the file and
  // the reason, and `percent` is the failing entry's; the run must roll
  // back.
  Status flush(InstallStats& stats, unsigned long& percent);

  // Removes the staged temporaries of a run that will not go on.
  void discard();

  bool empty() const { return m_pending.empty(); }

 private:
  struct Pending {
    StagedFile staged;
    wstring destination;
    uint64_t size;
    unsigned long percent;
    bool isNew;
    bool ownCopy;
  };

  // The data and times of every staged file, on disk; `failed` gets the
  // entry that failed.
  Status syncData(size_t& failed);
  // Backs up what the group replaces; an entry whose old copy vanished
  // meanwhile becomes new (and one where something appeared, replaced).
  // Then the journal and the folders, on disk. `failed` gets the entry that
  // failed.
  Status backUpReplaced(InstallStats& stats, size_t& failed);

  Rollback& m_rollback;
  std::vector<Pending> m_pending;
  uint64_t m_bytes = 0;
};

#endif  // QXR8_INSTALL_PLACEMENT_BATCH_H_
