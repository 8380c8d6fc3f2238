// Putting a group of staged entries in place durably, at the cost of a few
// waits for the disk per group rather than several per file, most of them
// while the next group is being written. The order is what makes a power
// cut at any instant harmless: the staged files' data and times are on disk
// before any of them gets its name; the journal records of every file the
// group places (with the identities an undo needs) are on disk before any
// old copy moves or any name appears; a replaced file is safely in the
// backup tree, its folders synced, before the new copy takes its name; and
// the folders that received names are synced, with the next group's files
// or at the end, before the run commits.
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
#include "platform/batch_sync.h"
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
  static constexpr size_t kMaxFiles = BackgroundSyncs::kMaxInFlight;
  static constexpr uint64_t kMaxBytes = 128u << 20;

  explicit PlacementBatch(Rollback& rollback) : m_rollback(rollback) {}
  PlacementBatch(const PlacementBatch&) = delete;
  PlacementBatch& operator=(const PlacementBatch&) = delete;

  // How many descriptors the batch may hold open at once (staged files and
  // destination folders). With room for two groups' files, a group's syncs
  // go to the disk while the next group is staged (see flush); with less,
  // one group at a time, its files closed and opened again to be synced in
  // turns, and a group put in place early rather than go past it.
  void setDescriptorBudget(size_t descriptors);

  // Takes a staged entry for `target`, of `size` bytes, handled by the run
  // at `percent`; `isNew` when nothing stood there in the plan, `ownCopy`
  // when what stands there is what this run placed for an earlier entry
  // (never backed up again). The entry counts in `stats` as written from
  // now on. `groupFull` says flush must be called now. Fails (the file
  // discarded) when a file that is not kept open does not close cleanly.
  Status add(StagedFile staged, PlacementTarget target, uint64_t size, unsigned long percent,
             bool isNew, bool ownCopy, InstallStats& stats, bool& groupFull);

  // Ends the group being staged: puts in place the group before it, whose
  // syncs were handed to the disk at the previous flush, then hands this
  // group's syncs to the disk and returns, leaving it to the next flush or
  // to finish (one group at a time when short of descriptors: put in place
  // now). A group is put in place in the order the header gives. An entry
  // found new or replaced other than planned is counted again in `stats`.
  // On failure the files of both groups not yet in place are discarded,
  // the Status names the file and the reason, and `percent` is the failing
  // entry's; the run must roll back.
  Status flush(InstallStats& stats, unsigned long& percent);
  // Flushes and puts every group in place: the run's last step before its
  // commit.
  Status finish(InstallStats& stats, unsigned long& percent);

  // Removes the staged files of a run that will not go on (after the
  // syncs still in flight have answered).
  void discard();

  bool empty() const { return m_pending.empty() && m_syncing.empty(); }

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
  using Group = std::vector<Pending>;

  // Puts `group` in place; `syncsInFlight` when its syncs (and its added
  // files' records) were handed to m_syncs by submit. `failed` gets the
  // entry that failed.
  Status putInPlace(Group& group, bool syncsInFlight, InstallStats& stats, size_t& failed);
  // Hands the syncs of `group`'s files, of its added files' records and of
  // the folders placed groups gave names to, to the disk.
  Status submit(Group& group, size_t& failed);
  // The folders placed groups gave names to, synced now.
  Status syncUnsyncedFolders();
  // The data and times of every staged file of `group`, on disk, in turns
  // of m_keptOpen files.
  Status syncData(Group& group, size_t& failed);
  // The answers of the syncs in flight for `group`.
  Status awaitData(Group& group, size_t& failed);
  // Journals every entry not `journaled` already (an old copy that vanished
  // since the plan makes its entry new), puts the journal on disk, then
  // moves the old copies into the backup tree and makes that durable.
  Status backUpReplaced(Group& group, bool journaled, InstallStats& stats, size_t& failed);
  // Something took the place of a new entry since the plan: it is backed
  // up like an old copy, on its own, and the entry placed over it.
  Status backUpAppeared(Pending& pending, InstallStats& stats);
  // The folders of `group`'s replaced files, synced.
  Status syncReplacedFolders(const Group& group);
  void recount(Pending& pending, Mode mode, InstallStats& stats);
  void discard(Group& group);

  Rollback& m_rollback;
  Group m_pending;  // being staged
  Group m_syncing;  // its data syncs in flight
  BackgroundSyncs m_syncs;
  // Beside a group's files in the syncs in flight: what else is synced
  // (the journal, folders), by path, and the folders kept open for it.
  std::vector<wstring> m_pathsInFlight;
  std::vector<std::shared_ptr<const Directory>> m_foldersInFlight;
  // Folders placed groups gave names to, not yet synced.
  std::vector<std::shared_ptr<const Directory>> m_unsyncedFolders;
  uint64_t m_bytes = 0;
  size_t m_keptOpen = kMaxFiles;
  size_t m_folderBudget = kMaxFiles;
  size_t m_folders = 0;  // distinct destination folders in the group being staged
  bool m_overlap = true;  // room for two groups' files
};

#endif  // QXR8_INSTALL_PLACEMENT_BATCH_H_
