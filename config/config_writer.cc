#include "config/config_writer.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "config/ascii_identity.h"
#include "config/in_place_rewrite.h"
#include "platform/attribute_copy.h"
#include "platform/byte_escape.h"
#include "platform/directory.h"
#include "platform/path_status.h"
#include "platform/system_path.h"
#include "config/temporary_file.h"
#include "platform/text_encoding.h"

namespace {

constexpr int kCannotCreate = 1;
constexpr int kCannotWrite = 2;

wstring directoryOf(const wstring& path) {
  const size_t slash = path.rfind(kPathSeparatorChar);
  if (slash == wstring::npos) return u".";
  if (slash == 0) return u"/";
  return path.substr(0, slash);
}

wstring baseOf(const wstring& path) {
  const size_t slash = path.rfind(kPathSeparatorChar);
  return slash == wstring::npos ? path : path.substr(slash + 1);
}

// Appends the multibyte form of `w`; ASCII text, most of any launcher
// file, is copied as it is where the locale keeps ASCII.
void appendNarrow(std::string& text, const wstring& w, bool asciiAsIs) {
  if (asciiAsIs && std::all_of(w.begin(), w.end(), [](char16_t c) { return c != 0 && c < 0x80; })) {
    text.append(w.begin(), w.end());
  } else {
    text += narrow_keeping_bytes(w);
  }
}

std::string textOf(const ConfigFile& config) {
  const bool asciiAsIs = locale_keeps_ascii();
  std::string text;
  for (const ConfigFile::Entry& entry : config.entries()) {
    std::string key;
    appendNarrow(key, entry.key, asciiAsIs);
    for (const wstring& value : entry.values) {
      text += key;
      text += '=';
      appendNarrow(text, value, asciiAsIs);
      text += '\n';
    }
  }
  // A first key that begins with the bytes FF FE (carried over from a file
  // whose first line was empty) would make the file read back as UTF-16.
  // An empty line, which the reader skips, keeps it a multibyte file.
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
      static_cast<unsigned char>(text[1]) == 0xFE) {
    text.insert(0, 1, '\n');
  }
  return text;
}

enum class Outcome { kDone, kNotPossible };

// Writes `text` to a temporary beside the file `name` of `folder` (at
// `target`) and renames it over it, so that a reader sees the old file or
// the new one and nothing in between. kNotPossible (nothing changed, the
// temporary gone) when the temporary cannot be made in the folder or
// cannot carry the old file's owner, group, mode and attributes; `old` is
// null for a new file. Throws 2 when writing or renaming fails; the old
// file stays and the temporary goes.
Outcome writeByRename(const Directory& folder, const wstring& name, const wstring& target,
                      const std::string& text, const FileInfo* old) {
  if (old != nullptr && old->links != 1) return Outcome::kNotPossible;
  TemporaryFile temp;
  if (!temp.create(folder, name).ok()) return Outcome::kNotPossible;
  if (old != nullptr && !copy_file_attributes(target, *old, temp.file())) {
    return Outcome::kNotPossible;
  }
  if (!temp.file().writeAllAt(0, text.data(), text.size()).ok() || !temp.file().sync().ok() ||
      !temp.close().ok() || !folder.rename(temp.name(), folder, name).ok()) {
    throw kCannotWrite;
  }
  temp.commit();
  // The rename leaves the folder pointing at the new file; syncing the
  // folder makes that survive a crash. Best effort: the file is complete.
  folder.sync();
  return Outcome::kDone;
}

// Whether the regular file `name` of `folder` holds exactly `text`; a file
// that cannot be read counts as different, so that it is written.
bool holds_exactly(const Directory& folder, const wstring& name, const std::string& text) {
  File file;
  std::string bytes;
  // Reading more than the text could hold would only prove a difference.
  return folder.openFile(name, O_RDONLY | O_NOCTTY | O_NONBLOCK, 0, file).ok() &&
         file.readAll(bytes, text.size()).ok() && bytes == text;
}

}  // namespace

bool write_config_file(const wstring& path, const ConfigFile& config) {
  const std::string text = textOf(config);

  wstring target;
  if (!resolve_link_chain(path, target)) throw kCannotCreate;
  // A rewrite in place that a dead writer left unfinished is put back
  // first: the text written below starts from the file's real content.
  wstring kept;
  if (!restore_interrupted_rewrite(target, kept)) throw kCannotCreate;
  const wstring name = baseOf(target);
  Directory folder;
  if (!Directory::open(directoryOf(target), folder).ok()) throw kCannotCreate;
  remove_stale_temporaries(folder);
  FileInfo old;
  if (!folder.info(name, FollowLinks::kYes, old).ok()) throw kCannotCreate;
  if (old.kind == PathKind::kMissing) {
    if (writeByRename(folder, name, target, text, nullptr) == Outcome::kNotPossible) {
      throw kCannotCreate;
    }
    return true;
  }
  // Renaming over a directory or a device would not be "writing the file".
  if (old.kind != PathKind::kRegular) throw kCannotCreate;
  // A file that already says it all keeps its inode and time stamps: a
  // rerun that changes nothing must not look like a change to whoever
  // watches the file, nor wear the disk.
  if (holds_exactly(folder, name, text)) return false;
  // Replacing a file does not need the file's own write permission, but a
  // user who made the launcher's file read-only means it to stay as it is,
  // just as an open for writing would refuse it.
  if (!may_write(target)) throw kCannotCreate;
  if (writeByRename(folder, name, target, text, &old) == Outcome::kDone) return true;
  rewrite_in_place(folder, name, text);
  return true;
}
