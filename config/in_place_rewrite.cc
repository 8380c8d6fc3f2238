#include "config/in_place_rewrite.h"

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "config/temporary_file.h"
#include "platform/path_status.h"
#include "platform/process_services.h"
#include "platform/system_path.h"

namespace {

constexpr int kCannotCreate = 1;
constexpr int kCannotWrite = 2;
// Only the user may read the old text kept of a private file.
constexpr unsigned kKeptMode = 0600;

// Replaces the whole content of `file` by `bytes`, on disk when it returns
// true.
bool put_content(File& file, const std::string& bytes) {
  return file.writeAllAt(0, bytes.data(), bytes.size()).ok() && file.truncate(bytes.size()).ok() &&
         file.sync().ok();
}

// Replaces the content of `file`, `oldSize` bytes long, by `bytes` (not
// longer) so that the file is whole at every instant a crash may stop it:
// the new text followed by line feeds up to the old length goes on disk
// first, and only then is the file cut. The padding is empty lines, which
// every reader of the format skips, so a reader that comes between the
// write and the cut (the launcher, which never puts a kept copy back) sees
// the new list and nothing of the old tail. True when it is all on disk.
bool put_padded_content(File& file, const std::string& bytes, uint64_t oldSize) {
  std::string padded = bytes;
  padded.resize(oldSize, '\n');
  return file.writeAllAt(0, padded.data(), padded.size()).ok() && file.dataSync().ok() &&
         file.truncate(bytes.size()).ok() && file.sync().ok();
}

// Keeps `bytes` beside the file `name` of `folder` under a kept-text name,
// whole and on disk: written under a temporary name first, so that the
// kept-text name only ever stands for a complete copy. `kept` gets it.
bool keep_old_text(const Directory& folder, const wstring& name, const std::string& bytes,
                   wstring& kept) {
  TemporaryFile temp;
  if (!temp.create(folder, name).ok() || !temp.file().setMode(kKeptMode).ok() ||
      !temp.file().writeAllAt(0, bytes.data(), bytes.size()).ok() || !temp.file().sync().ok() ||
      !temp.close().ok()) {
    return false;
  }
  kept = writer_file_name(name, kKeptTextMarker);
  if (!folder.rename(temp.name(), folder, kept).ok()) return false;
  temp.commit();
  return folder.sync().ok();
}

// Whether `entry` is a kept copy of the file `name` whose writer is gone.
bool abandoned_copy_of(const wstring& entry, const wstring& name) {
  std::string system;
  const wstring prefix = u"." + name + from_system_path(kKeptTextMarker);
  if (entry.compare(0, prefix.size(), prefix) != 0 || !to_system_path(entry, system)) return false;
  const int writer = writer_of(system.c_str(), kKeptTextMarker);
  return writer != 0 && writer != getpid() && !process_exists(writer);
}

}  // namespace

void rewrite_in_place(const Directory& folder, const wstring& name, const std::string& text) {
  File file;
  FileInfo info;
  std::string oldBytes;
  wstring kept;
  if (!folder.openFile(name, O_RDWR | O_NOCTTY | O_NONBLOCK, 0, file).ok() ||
      !file.info(info).ok() || info.kind != PathKind::kRegular || !file.readAll(oldBytes).ok()) {
    throw kCannotCreate;
  }
  // A folder that takes no file of ours (one the user may not write) gets
  // the rewrite all the same, as before, only without the kept copy.
  const bool keeping = keep_old_text(folder, name, oldBytes, kept);
  const bool written = text.size() <= oldBytes.size() ? put_padded_content(file, text, oldBytes.size())
                                                      : put_content(file, text);
  // The old bytes fit where they were; shorten the file back to them.
  if (!written && !put_content(file, oldBytes)) throw kCannotWrite;  // the kept copy stays
  if (keeping) {
    folder.remove(kept);
    folder.sync();
  }
  if (!written) throw kCannotWrite;
}

bool restore_interrupted_rewrite(const wstring& path, wstring& kept) {
  kept.clear();
  Directory folder;
  wstring name;
  std::vector<DirectoryEntry> entries;
  if (!list_writer_folder(path, folder, name, entries)) return true;
  for (const DirectoryEntry& entry : entries) {
    if (entry.isDirectory || !abandoned_copy_of(entry.name, name)) continue;
    File copy;
    File file;
    std::string bytes;
    if (!folder.openFile(entry.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, copy).ok() ||
        !copy.readAll(bytes).ok() ||
        !folder.openFile(name, O_RDWR | O_NOCTTY | O_NONBLOCK, 0, file).ok() ||
        !put_content(file, bytes)) {
      kept = folder.pathOf(entry.name);
      return false;
    }
    folder.remove(entry.name);
    folder.sync();
  }
  return true;
}
