// The run's state folder in the catalog (run_state.h), as untrusted ground
// would have it: made private by the run that owns it, and trusted by a
// later run only when it still is private. A folder that is a link, not a
// folder, another user's, or open to others is never replayed, whoever
// asks, root included: replaying it would let whoever planted it choose
// which files of the catalog, or outside it, get removed or replaced.
//
// One thread uses a StateFolder at a time. What survives a crash: what
// make() and remove() say they made durable.
#ifndef QXR8_INSTALL_STATE_FOLDER_H_
#define QXR8_INSTALL_STATE_FOLDER_H_

#include <string>

#include "platform/directory.h"
#include "platform/status.h"
#include "platform/wstring.h"

class StateFolder {
 public:
  // Makes the state folder of a new run in `catalog` (which the caller
  // has locked): private (kRunStateMode, plus the setgid bit the catalog
  // passes on), holding empty backup/ and stage/ folders. Not yet durable:
  // the caller syncs it and the catalog once it has put its journal in it.
  // Something already at its name fails with 183 and is left alone.
  static Status make(const Directory& catalog, StateFolder& out);

  // What stands at the state folder's name in `catalog`.
  enum class Found {
    kNone,     // nothing: no run left anything
    kOwn,      // a private folder of the caller's: `out` holds it open
    kForeign,  // a folder of another user (`owner` says whose)
    kOpen,     // a folder of the caller's that others may reach, or not a
               // folder at all (a link, a file): not the work of a run
  };
  // Looks at the state folder's name without following a link and opens
  // what is there only when it is the caller's private folder. Fails only
  // when the catalog cannot be read.
  static Status find(const Directory& catalog, Found& found, unsigned& owner, StateFolder& out);

  bool isOpen() const { return m_folder.isOpen(); }
  const Directory& folder() const { return m_folder; }
  // The full path, for messages.
  const wstring& path() const { return m_folder.path(); }

  // The folders inside, opened (and made, mode 0700) on first use, never
  // through a link. backup() fails with 2 when there is none.
  Status backup(const Directory*& out);
  Status stage(const Directory*& out);
  Status trash(const Directory*& out);
  // Closes the folders inside (they are opened again on use): a run keeps
  // few descriptors open.
  void release() {
    m_backup = Directory();
    m_stage = Directory();
    m_trash = Directory();
  }

  // Whether the folder holds a backup tree (what a journal can have
  // protected).
  bool hasBackups() const;
  // Whether the backup tree holds any file or link at all.
  bool backupsHoldFiles() const;

  // Removes everything the folder holds and the folder itself, in the
  // order that lets a cut at any instant leave something the next run
  // reads right: the staged and trashed files and the backups first, then
  // the journal that says whether the backups were needed, then the
  // folder; each step durable before the next. Closes the object.
  Status remove(const Directory& catalog);

  // Renames the folder, with everything in it, to a dated name beside it
  // that no run takes for its state (".qxr8\run-YYYYMMDD-HHMMSS", a number
  // added when taken), durably; `aside` gets its full path. Closes the
  // object. For a state that cannot be trusted or could not be undone
  // whole: nothing in it is lost, and the catalog can be used again.
  Status moveAside(const Directory& catalog, wstring& aside);

 private:
  Status inner(const char* name, bool create, Directory& slot, const Directory*& out);

  Directory m_folder;
  Directory m_backup;
  Directory m_stage;
  Directory m_trash;
};

// "the user NAME" or "the user with uid N" when no such user exists: who
// owns a state folder, in a message.
wstring owner_description(unsigned uid);

#endif  // QXR8_INSTALL_STATE_FOLDER_H_
