// Putting a group of staged entries in place durably, at the cost of a few
// waits for the disk per group rather than several per file. The order is
// what makes a power cut at any instant harmless: the staged files' data
// and times are on disk before any of them gets its name; the journal
// records of every file the group places (with the identities an undo
// needs) are on disk before any old copy moves or any name appears; a
// replaced file is safely in the backup tree, its folders synced, before
// the new copy takes its name; and the folders that received names are
// synced before the group is done.
//
// Everything goes through descriptors: the destination folder the run
// opened and checked, the stage and backup folders of its state; names are
// converted to the system's bytes once, by the caller.
//
// The install worker thread; one batch per run, used by one thread.
#ifndef QXR8_INSTALL_PLACEMENT_BATCH_H_
#define QXR8_INSTALL_PLACEMENT_BATCH_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "install/file_placement.h"
#include "install/install_failure.h"
#include "install/rollback.h"
#include "platform/directory.h"
#include "platform/status.h"
#include "platform/wstring.h"

// Where a staged entry goes.
struct PlacementTarget {
  std::shared_ptr<const Directory> folder;  // opened by the run's walk
  FolderIdentity folderIdentity;
  SystemName leaf;   // the name in it
  std::string name;  // the path below the catalog, for the journal
};

class PlacementBatch {
 public:
  // A group is put in place once it holds this many files or bytes: the
  // bytes bound how long the group's syncs take, and how much the disk
  // holds twice for a while (the old copies and the staged ones).
  static constexpr size_t kMaxFiles = 1024;
  static constexpr uint64_t kMaxBytes = 128u << 20;
  // Staged files kept open from their writing until their sync, at most;
  // the others are closed and opened again to be synced.
  static constexpr size_t kKeptOpen = 256;

  explicit PlacementBatch(Rollback& rollback) : m_rollback(rollback) {}
  PlacementBatch(const PlacementBatch&) = delete;
  PlacementBatch& operator=(const PlacementBatch&) = delete;

  // How many descriptors the batch may hold open at once (staged files and
  // destination folders); a group is put in place early rather than go
  // past it. At least 2.
  void setDescriptorBudget(size_t descriptors);

  // Takes a staged entry for `target`, of `size` bytes, handled by the run
  // at `percent`; `isNew` when nothing stood there in the plan, `ownCopy`
  // when what stands there is what this run placed for an earlier entry
  // (never backed up again). The entry counts in `stats` as written from
  // now on. `groupFull` says the group must be put in place now. Fails (the
  // file discarded) when a file that is not kept open does not close
  // cleanly.
  Status add(StagedFile staged, PlacementTarget target, uint64_t size, unsigned long percent,
             bool isNew, bool ownCopy, InstallStats& stats, bool& groupFull);

  // Puts the group in place (see above); an entry found new or replaced
  // other than planned is counted again in `stats`. On failure the files of
  // the group not yet in place are discarded, the Status names the file and
  // the reason, and `percent` is the failing entry's; the run must roll
  // back.
  Status flush(InstallStats& stats, unsigned long& percent);

  // Removes the staged files of a run that will not go on.
  void discard();

  bool empty() const { return m_pending.empty(); }

 private:
  enum class Mode {
    kNew,      // where nothing stands: never over anything
    kReplace,  // over a file first moved into the backup tree
    kOwnCopy,  // over this run's own earlier copy
  };
  struct Pending {
    StagedFile staged;
    PlacementTarget target;
    uint64_t size;
    unsigned long percent;
    Mode mode;
    FileIdentity original;  // kReplace: what is moved into the backup tree
  };

  // The data and times of every staged file, on disk; `failed` gets the
  // entry that failed.
  Status syncData(size_t& failed);
  // Journals every entry (an old copy that vanished since the plan makes
  // its entry new), puts the journal on disk, then moves the old copies
  // into the backup tree and makes that durable. `failed` gets the entry
  // that failed.
  Status backUpReplaced(InstallStats& stats, size_t& failed);
  // Something took the place of a new entry since the plan: it is backed
  // up like an old copy, on its own, and the entry placed over it.
  Status backUpAppeared(Pending& pending, InstallStats& stats);
  // The destination folders of the group, synced.
  Status syncFolders(bool sourcesToo);
  void recount(Pending& pending, Mode mode, InstallStats& stats);

  Rollback& m_rollback;
  std::vector<Pending> m_pending;
  uint64_t m_bytes = 0;
  size_t m_keptOpen = kKeptOpen;
  size_t m_folderBudget = kMaxFiles;
  size_t m_folders = 0;  // distinct destination folders in the group
};

#endif  // QXR8_INSTALL_PLACEMENT_BATCH_H_
