#include "install/file_placement.h"

#include <fcntl.h>
#include <sys/stat.h>

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

Status stage_entry(const Directory& stage, const FileInfo& folder, const wstring& destination,
                   KitReader& kit, unsigned long index, StagedFile& out) {
  out = StagedFile();
  out.stage = &stage;
  out.destination = destination;
  File& file = out.file;
  Status status = stage.createTemporary(kPlacedFileMode, file, out.temporary);
  if (!status.ok()) {
    out.temporary = SystemName();
    return placement_failure(status, destination);
  }
  int systemError = 0;
  const unsigned code = kit.writeEntry(index, file.descriptor(), systemError);
  if (code != kErrorSuccess) {
    status = error_status(code);
    status.systemError = systemError;
  } else {
    status = file.setTimes(FileTimeToEpoch(kit.entries[index].lastWriteTime));
  }
  // Made in the private stage folder, the file takes the group its own
  // folder would have given it.
  FileInfo info;
  if (status.ok()) status = file.info(info);
  if (status.ok() && (folder.mode & S_ISGID) != 0 && info.group != folder.group) {
    file.setGroup(folder.group);
  }
  // Write-back starts now, so that the group's syncs wait for all of its
  // files at once.
  if (status.ok()) file.startWriteback();
  if (!status.ok()) {
    discard_staged(out);
    return placement_failure(status, destination);
  }
  out.identity = file_identity_of(info);
  return Status();
}

Status stage_text(const Directory& stage, const std::string& bytes, unsigned mode,
                  const wstring& destination, StagedFile& out) {
  out = StagedFile();
  out.stage = &stage;
  out.destination = destination;
  Status status = stage.createTemporary(mode, out.file, out.temporary);
  if (!status.ok()) {
    out.temporary = SystemName();
    return placement_failure(status, destination);
  }
  FileInfo info;
  status = out.file.setMode(mode);
  if (status.ok()) status = out.file.writeAll(bytes.data(), bytes.size());
  if (status.ok()) status = out.file.info(info);
  if (status.ok()) out.file.startWriteback();
  if (!status.ok()) {
    discard_staged(out);
    return placement_failure(status, destination);
  }
  out.identity = file_identity_of(info);
  return Status();
}

Status close_staged(StagedFile& staged) {
  const Status status = staged.file.close();
  if (!status.ok()) return placement_failure(status, staged.destination);
  return Status();
}

Status open_staged(StagedFile& staged) {
  if (staged.file.isOpen()) return Status();
  const Status status =
      staged.stage->openFile(staged.temporary, O_RDONLY | O_NOFOLLOW, 0, staged.file);
  if (!status.ok()) return placement_failure(status, staged.destination);
  return Status();
}

Status put_in_place(StagedFile& staged, const Directory& folder, const SystemName& leaf,
                    bool noReplace) {
  staged.file = File();
  const Status status = noReplace ? staged.stage->renameNoReplace(staged.temporary, folder, leaf)
                                  : staged.stage->rename(staged.temporary, folder, leaf);
  if (status.code == kErrorAlreadyExists && noReplace) {
    Status taken = status;
    taken.path = staged.destination;
    return taken;
  }
  if (!status.ok()) {
    discard_staged(staged);
    return placement_failure(status, staged.destination);
  }
  staged.temporary = SystemName();
  return Status();
}

void discard_staged(StagedFile& staged) {
  staged.file = File();
  if (!staged.temporary.bytes.empty() && staged.stage != nullptr) {
    staged.stage->remove(staged.temporary);
  }
  staged.temporary = SystemName();
}
