// Putting a kit entry in place whole: its bytes are written to a new file
// in the run's stage folder (exclusive creation, never through a link,
// inside the private state folder, so a run cut off leaves nothing of it in
// the catalog), the file gets its time there, and only then is it renamed
// to its destination, a folder of the catalog on the same file system. No
// partial file ever stands under the destination's name, and a time is
// only ever set on complete content. Staging and putting in place are two
// steps, so that a caller can write a group of files, make them durable
// and journal them before it puts any of them in place.
//
// No shared state; the worker thread, one kit reader at a time.
#ifndef QXR8_INSTALL_FILE_PLACEMENT_H_
#define QXR8_INSTALL_FILE_PLACEMENT_H_

#include <string>

#include "install/install_data.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/status.h"
#include "platform/wstring.h"

// A complete entry under its temporary name, not yet in place.
struct StagedFile {
  const Directory* stage = nullptr;  // where it was written (not owned)
  SystemName temporary;              // its name there
  // Still open from its writing, or closed (a group of any size must not
  // hold a descriptor per file); it is opened again to be synced.
  File file;
  // As it was staged: what a journal records of the file it places.
  FileIdentity identity;
  wstring destination;  // the full path it is for, in messages
};

// Writes entry `index` of `kit` to a new file in `stage` for the
// destination folder `folder` (whose group the file takes when that folder
// passes its group on), named `destination` in messages. The file's
// write-back to disk is started; it stays open. Fails with 112 for a full
// disk, 223 past the file-size limit, 13 when the kit ends early, 5 when
// the folder does not let the file be made (no right, read-only file
// system), else the failed call's code; the staged file is removed then.
Status stage_entry(const Directory& stage, const FileInfo& folder, const wstring& destination,
                   KitReader& kit, unsigned long index, StagedFile& out);

// Writes `bytes` to a new file in `stage`, of `mode` whatever the umask
// (not an entry of the kit: what the run itself keeps in the catalog, such
// as its record of the kit), for `destination` (messages). The same
// failures as stage_entry; the staged file is removed then.
Status stage_text(const Directory& stage, const std::string& bytes, unsigned mode,
                  const wstring& destination, StagedFile& out);

// Closes the staged file, reporting what close said (a failed close can be
// the first report of a failed write: quota, NFS).
Status close_staged(StagedFile& staged);

// The staged file open, as it was left or opened again for reading, so
// that it can be synced.
Status open_staged(StagedFile& staged);

// Renames the staged file to `leaf` of `folder`: over what stands there,
// or, with `noReplace`, only where nothing does (183 otherwise, with
// nothing changed). On any other failure the staged file is removed and
// the destination is as it was.
Status put_in_place(StagedFile& staged, const Directory& folder, const SystemName& leaf,
                    bool noReplace);

// Removes a staged file that will not be put in place.
void discard_staged(StagedFile& staged);

#endif  // QXR8_INSTALL_FILE_PLACEMENT_H_
