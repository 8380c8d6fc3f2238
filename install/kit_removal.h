// Taking a kit back out of a catalog: every file of the kit whose bytes are
// exactly the kit's copy goes; every other file (one the user changed) is
// kept; the folders that this leaves empty go, never one that still holds
// anything. A removal is a run like an installation: it takes the
// catalog's lock, undoes a dead run first, moves each file it removes into
// its state folder's backup tree (so that a failing step or a power cut
// undoes it whole) and deletes the files only once it has committed.
//
// The catalog is untrusted ground: the plan reaches every file through
// folders opened below the catalog without following any link, the user's
// own included (a link in the catalog is kept and named, never followed),
// and the removal acts on a file only while it is still the one the plan
// compared: each is moved into the private state folder and checked there.
//
// The caller's thread; the kit must not be used by another thread
// meanwhile.
#ifndef QXR8_INSTALL_KIT_REMOVAL_H_
#define QXR8_INSTALL_KIT_REMOVAL_H_

#include <functional>
#include <string>
#include <vector>

#include "install/install_data.h"
#include "install/record_folder.h"
#include "platform/directory.h"
#include "platform/status.h"
#include "platform/wstring.h"

// A file of the kit that stays, and why.
struct KeptFile {
  wstring path;
  wstring why;  // "changed", "a link", "a link on the way", ...
};

struct RemovalPlan {
  std::vector<wstring> removed;  // full paths, kit order: the kit's bytes exactly
  std::vector<KeptFile> kept;    // full paths, kit order
  std::vector<wstring> folders;  // full paths of the folders left empty, deepest first
};

struct RemovalOutcome {
  Status failure;           // code 0 after a complete removal (or plan)
  RemovalPlan plan;         // what was (or, for a dry run, would be) done
  unsigned long foldersRemoved = 0;
  // After a failure: false when a file could not be put back; the folder
  // `keptBackups` then holds it.
  bool catalogRestored = true;
  wstring keptBackups;
  // What an interrupted earlier run, or this one's rollback, kept.
  std::vector<wstring> notes;
};

// Told, as a removal takes files out, how many of how many it has handled
// and the path of the one at hand. The caller's thread.
using RemovalProgress =
    std::function<void(unsigned long done, unsigned long total, const wstring& path)>;

// Removes `kit` (opened) from `catalog` (a path; a final "/" is added when
// missing), or with `dryRun` only plans it, writing nothing. A catalog that
// does not exist holds nothing to remove. Something that is not a file
// where a kit file belongs is kept, not refused. `progress`, when given,
// hears of every file the run handles.
RemovalOutcome remove_kit(KitReader& kit, const wstring& catalog, bool dryRun,
                          const RemovalProgress& progress = RemovalProgress());

// The same without the kit: the files the caller's record named `name`
// lists (kit_record.h), each removed while its bytes still have the
// recorded hash; the record goes in the same run. Every removal, by kit
// or by record, keeps a file that another kit's record also lists, and
// removes the caller's record of the kit it removes. Fails with 2 when no
// record of `name` is found in the catalog, 5 when only another user's
// is.
RemovalOutcome remove_recorded_kit(const std::string& name, const wstring& catalog, bool dryRun,
                                   const RemovalProgress& progress = RemovalProgress());

// The failure for a kit named `name` that `records` (of `catalog`) holds
// no record of the caller's for: 5 naming the owner when another user's
// record has that name, else 2.
Status no_record(const CatalogRecords& records, const std::string& name, const wstring& catalog);

// Whether the catalog open as `catalog` holds no file at all, outside the
// state of a run: no regular file, link or other entry in any folder.
bool catalog_is_empty(const Directory& catalog);

#endif  // QXR8_INSTALL_KIT_REMOVAL_H_
