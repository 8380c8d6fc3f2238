#include "install/file_placement.h"

#include <fcntl.h>

#include <cerrno>

namespace {

// Creation mode of a placed file; the umask applies.
constexpr unsigned kPlacedFileMode = 0660;

// Named after the destination, whichever of its steps failed. A folder
// that refuses the file is a matter of rights, whatever the system's exact
// reason.
Status placement_failure(Status status, const wstring& destination) {
  status.path = destination;
  const int err = status.systemError;
  if (err == EACCES || err == EPERM || err == EROFS) status.code = kErrorAccessDenied;
  return status;
}

}  // namespace

Status stage_entry(const std::shared_ptr<const Directory>& directory, const wstring& leaf,
                   KitReader& kit, unsigned long index,
                   const std::function<Status(const wstring& temporary)>& beforeCreate,
                   StagedFile& out) {
  out = StagedFile();
  out.directory = directory;
  out.leaf = leaf;
  File& file = out.file;
  Status status = directory->createTemporary(kPlacedFileMode, beforeCreate, file, out.temporary);
  if (!status.ok()) {
    out.temporary.clear();
    return placement_failure(status, directory->pathOf(leaf));
  }
  int systemError = 0;
  const unsigned code = kit.writeEntry(index, file.descriptor(), systemError);
  if (code != kErrorSuccess) {
    status = error_status(code);
    status.systemError = systemError;
  } else {
    status = file.setTimes(FileTimeToEpoch(kit.entries[index].lastWriteTime));
  }
  // Write-back starts now, so that the group's syncs wait for all of its
  // files at once.
  if (status.ok()) file.startWriteback();
  if (!status.ok()) {
    discard_staged(out);
    return placement_failure(status, directory->pathOf(leaf));
  }
  return Status();
}

Status close_staged(StagedFile& staged) {
  const Status status = staged.file.close();
  if (!status.ok()) return placement_failure(status, staged.directory->pathOf(staged.leaf));
  return Status();
}

Status open_staged(StagedFile& staged) {
  if (staged.file.isOpen()) return Status();
  const Status status =
      staged.directory->openFile(staged.temporary, O_RDONLY | O_NOFOLLOW, 0, staged.file);
  if (!status.ok()) return placement_failure(status, staged.directory->pathOf(staged.leaf));
  return Status();
}

Status put_in_place(StagedFile& staged) {
  staged.file = File();
  const Status status = staged.directory->rename(staged.temporary, *staged.directory, staged.leaf);
  if (!status.ok()) {
    discard_staged(staged);
    return placement_failure(status, staged.directory->pathOf(staged.leaf));
  }
  staged.temporary.clear();
  return Status();
}

void discard_staged(StagedFile& staged) {
  staged.file = File();
  if (!staged.temporary.empty() && staged.directory) staged.directory->remove(staged.temporary);
  staged.temporary.clear();
}
