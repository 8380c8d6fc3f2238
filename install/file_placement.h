// Putting a kit entry in place whole: its bytes are written under a hidden
// temporary name in the destination's own folder (exclusive creation,
// never through a link), the file gets its time there, and only then is it
// renamed over the destination. No partial file ever stands under the
// destination's name, and a time is only ever set on complete content.
// Staging and putting in place are two steps, so that a caller can write
// a group of files before it puts any of them in place.
//
// No shared state; the worker thread, one kit reader at a time.
#ifndef QXR8_INSTALL_FILE_PLACEMENT_H_
#define QXR8_INSTALL_FILE_PLACEMENT_H_

#include <functional>
#include <memory>

#include "install/install_data.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/status.h"
#include "platform/wstring.h"

// A complete entry under its temporary name, not yet in place.
struct StagedFile {
  std::shared_ptr<const Directory> directory;  // the destination's folder
  wstring leaf;         // the destination's name in it
  wstring temporary;    // the temporary's name in it
  // Still open from its writing, or closed (a group of any size must not
  // hold a descriptor per file); it is opened again to be synced.
  File file;
};

// Writes entry `index` of `kit` to a new temporary in `directory` (shared
// with the staged file, which keeps it open) for the destination `leaf`. `beforeCreate` is told the temporary's name before it is created
// and may veto with a failed Status (a journal that cannot record it).
// The file's write-back to disk is started; the file stays open. Fails
// with 112 for a full disk, 223 past the file-size limit, 13 when the kit
// ends early, 5 when the folder does not let the file be made (no right,
// read-only file system), else the failed call's code; the temporary is
// removed then.
Status stage_entry(const std::shared_ptr<const Directory>& directory, const wstring& leaf,
                   KitReader& kit,
                   unsigned long index,
                   const std::function<Status(const wstring& temporary)>& beforeCreate,
                   StagedFile& out);

// Closes the staged file, reporting what close said (a failed close can be
// the first report of a failed write: quota, NFS).
Status close_staged(StagedFile& staged);

// The staged file open, as it was left or opened again for reading, so
// that it can be synced.
Status open_staged(StagedFile& staged);

// Renames the staged file over its destination. On failure the temporary
// is removed and the destination is as it was.
Status put_in_place(StagedFile& staged);

// Removes a staged temporary that will not be put in place.
void discard_staged(StagedFile& staged);

#endif  // QXR8_INSTALL_FILE_PLACEMENT_H_
