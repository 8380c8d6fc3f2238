// Undoing what a run did to the catalog, one journal record at a time,
// acting only on what the run can prove it left. The catalog may be shared
// and changed by anyone at any moment, so every step works through a
// descriptor of a folder reached below the catalog without following a
// link (beneath_open.h), or through a link the user's own run followed only
// while it still leads to the folder the record names; and an entry is
// removed or replaced only while it is still the file the run recorded:
// it is first moved into the run's private state folder and checked
// there, where nobody else can change it, and put back when it is not.
//
// What is not the run's any more stays, and is named in the notes: a file
// saved where the run had placed one, a folder that holds files saved
// since, an old copy that could not go back to its name (it is then put
// beside the user's file under a name the notes give). A backup that
// cannot be put anywhere in the catalog stays in the state folder, which
// the caller must then keep (backupsLeft).
//
// The install worker or the caller's thread, with the catalog locked
// (catalog_lock.h). Memory is bounded whatever the journal holds: one
// record, one cached folder and a bounded list of notes at a time.
#ifndef QXR8_INSTALL_RUN_UNDO_H_
#define QXR8_INSTALL_RUN_UNDO_H_

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "install/install_data.h"
#include "install/journal_format.h"
#include "install/state_folder.h"
#include "platform/directory.h"
#include "platform/status.h"
#include "platform/wstring.h"

class RunUndo {
 public:
  // Notes kept for the output; more are counted, not kept.
  static constexpr size_t kMaxNotes = 100;

  // `catalog` is the locked catalog and `state` the run's own state folder
  // (state_folder.h); both must outlive the object. `kitEntries` (may be
  // null) is the kit whose sizes and times stand in for the identities a
  // journal of version 2 does not hold: a file is taken for the run's copy
  // only when it is a regular file with the kit's size and time.
  RunUndo(const Directory& catalog, StateFolder& state,
          const std::vector<config::KitEntry>* kitEntries);
  ~RunUndo();
  RunUndo(const RunUndo&) = delete;
  RunUndo& operator=(const RunUndo&) = delete;

  // Undoes one record of a run that did not commit; records are given
  // newest first (oldest first for version 2, which cannot be read
  // backwards): A and R take the placed file away, R and B put the backup
  // back, D removes the folder when it is empty. The catalog itself (D of
  // the empty name) is never removed here (see madeCatalog). Other kinds
  // do nothing.
  void undo(const JournalRecord& record);

  // For a run that committed: removes the folder of an F record when it is
  // still that folder and empty.
  void removeEmptied(const JournalRecord& record);

  // Version 2 left no record of its backups: every file or link of the
  // backup tree goes back to its place where nothing stands, or where the
  // kit's own copy stands (which it replaces); elsewhere it is put beside.
  void restoreUnrecordedBackups();

  // Version 2 wrote files beside their destinations under hidden
  // temporary names: those of this user's still there are removed.
  void sweepLegacyTemporaries();

  // Whether a D record of the empty name was met: the run made the catalog.
  bool madeCatalog() const { return m_madeCatalog; }
  // How many D records found their folder still there and not empty
  // (version 2 runs them again until this stops falling).
  unsigned long foldersLeft() const { return m_foldersLeft; }
  void resetFoldersLeft() { m_foldersLeft = 0; }
  // How many F records' folders removeEmptied removed.
  unsigned long foldersRemoved() const { return m_foldersRemoved; }

  // Whether something of the run's state could not be put back into the
  // catalog: a backup, or a file taken out by mistake. The state folder
  // then holds it and must not be removed.
  bool backupsLeft() const { return m_backupsLeft; }

  // Makes durable the catalog folders the undo changed.
  Status syncChanged();

  // What was kept, one line each ("PATH: WHY"), at most kMaxNotes, then a
  // line counting the others.
  std::vector<wstring> notes() const;

 private:
  struct Folder;
  // The folder `relative` (system bytes) of the catalog, reached without
  // links, or through the run's own link only while it leads to `expected`
  // (when `check`). Null when there is none to act in; `why` then says why
  // (code 2: nothing there, nothing to say).
  const Directory* folder(const std::string& relative, const FolderIdentity& expected, bool check,
                          Status& why);
  // The file `leaf` of `parent` taken out of the catalog when it is the
  // run's (`matches`); false when it is not there or not the run's.
  enum class Taken { kGone, kTaken, kNotOurs };
  template <class Match>
  Taken takeAway(const Directory& parent, const std::string& leaf, const Match& matches);
  // The backup of `name` back to `leaf` of `parent`; `original` checks it
  // when given. `replaceable` says whether an occupant may be taken away.
  template <class Match>
  void restore(const Directory& parent, const std::string& name, const std::string& leaf,
               const FileIdentity* original, const Match& replaceable);
  // Puts `from` of `source` beside `leaf` of `parent` under a free name;
  // the name used, or empty.
  wstring putBeside(const Directory& source, const SystemName& from, const Directory& parent,
                    const std::string& leaf);
  // The kit's size and time for `name`, for version 2.
  bool kitCopy(const std::string& name, uint64_t& size, int64_t& modified);
  void restoreTree(const Directory& backup, const std::string& relative);
  void sweep(const Directory& folder);
  void note(const wstring& line);

  const Directory& m_catalog;
  StateFolder& m_state;
  const std::vector<config::KitEntry>* m_kitEntries;
  std::unordered_map<std::string, std::pair<uint64_t, int64_t>> m_kitIndex;
  bool m_kitIndexed = false;
  std::unique_ptr<Folder> m_cached;
  unsigned long m_trashed = 0;
  bool m_madeCatalog = false;
  bool m_backupsLeft = false;
  unsigned long m_foldersLeft = 0;
  unsigned long m_foldersRemoved = 0;
  std::vector<wstring> m_notes;
  unsigned long m_notesDropped = 0;
};

#endif  // QXR8_INSTALL_RUN_UNDO_H_
