// "Must this file be written?", answered in one place: what stands at a kit
// entry's destination, as a run may look at it, and what the run does with
// the entry. The run, its room check and the dry-run plan all decide
// through these functions (install_plan.h), so they cannot disagree.
//
// No shared state; any thread.
#ifndef QXR8_INSTALL_ENTRY_DECISION_H_
#define QXR8_INSTALL_ENTRY_DECISION_H_

#include <cstdint>
#include <memory>

#include "install/install_data.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/status.h"
#include "platform/wstring.h"

// A kit name as a path below the catalog: "\" read as "/", and empty and
// "." components dropped, so that every directory a run makes is one its
// journal names (the reader has already refused ".." and absolute names).
// Pure.
wstring normalised_kit_name(const wstring& name);

// What stands at a destination.
struct ExistingCopy {
  enum class Kind {
    kNone,          // nothing (or a level above it is still missing)
    kFile,          // a regular file, or a trusted link to one: its time can be compared
    kUncomparable,  // a dangling link, or a link of another user: replaced, never read through
  };
  Kind kind = Kind::kNone;
  uint64_t size = 0;     // of the file read (kFile)
  int64_t modified = 0;  // its modification time, Unix seconds (kFile)
  // What a backup of it keeps on disk: the size of a regular file, 0 for
  // a link (kFile and kUncomparable).
  uint64_t backupBytes = 0;
  // It is what this run itself placed for an earlier entry: it is not
  // backed up again (the first backup of a place is the one kept).
  bool placedByThisRun = false;
};

enum class EntryAction {
  kWriteNew,  // nothing stands there
  kReplace,   // over an older copy (backed up first)
  kKeep,      // the installed copy is not older than the kit's
  kRefuse,    // the run stops here with a code and the path
};

// The rule: nothing there is written new; a copy that cannot be compared,
// or whose time is earlier than the kit's (kept to the second, the kit's
// time in full), is replaced; so is a copy with exactly the time the kit's
// copy is given (the kit's, to the second) but not its size `kitSize`: it
// cannot be the kit's copy (an empty file a power cut left, say). Any other
// copy is kept: a newer one is the user's edit.
EntryAction decide_entry(const ExistingCopy& existing, const _FILETIME& kitTime, uint64_t kitSize);

// The rule's comparison of times: a copy whose time can be compared (kFile)
// is older than the kit's when its time, kept to the second, is earlier
// than the kit's time in full. False for any other kind.
bool copy_is_older(const ExistingCopy& existing, const _FILETIME& kitTime);

// The folder of the entry looked at last: entries of one folder follow one
// another in a kit, and each folder is walked to once for all of them.
struct FolderCache {
  bool valid = false;
  wstring relative;                      // the folder, relative to the catalog
  Status walked;                         // how the walk to it ended (2: a level is missing)
  std::shared_ptr<Directory> directory;  // open when the walk succeeded
  FileInfo identity;                     // the open folder's, looked up once
  // The last level found missing (relative): nothing below it is looked
  // for again while the catalog does not change.
  wstring missing;
};

// Looks at what stands at `name` (normalised, relative) below `catalog`
// without creating anything and without following a link someone else
// planted. Returns a failed Status (the run's refusal) when the name has no
// exact system name (123), a level above it cannot be walked (walk codes),
// or something that is neither a file nor a link to one (nor a dangling
// link) stands there (183); otherwise fills `out`. `parent` gets the
// identity of the entry's directory when it exists (kind kDirectory).
// `cache` (may be null) carries the last folder from one call to the next;
// the catalog must not change meanwhile.
Status probe_destination(const Directory& catalog, const wstring& name, ExistingCopy& out,
                         FileInfo& parent, FolderCache* cache = nullptr);

#endif  // QXR8_INSTALL_ENTRY_DECISION_H_
