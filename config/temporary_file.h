// The writer's temporary file beside the launcher file it will replace.
//
// Its name is "." + the file's name + ".qxr8tmp." + the writing process's id
// + "." + eight random letters or digits (".qxr8tmp.<pid>.<random>" alone when
// the file's name is too long to repeat), so that a later write can tell a
// temporary left by a killed process from a user's file and from the live
// temporary of a writer that is still running.
#ifndef QXR8_CONFIG_TEMPORARY_FILE_H_
#define QXR8_CONFIG_TEMPORARY_FILE_H_

#include <vector>

#include "platform/directory.h"
#include "platform/file.h"
#include "platform/status.h"
#include "platform/wstring.h"

// The markers of a writer's files beside a launcher file: a temporary that
// becomes the new file, and the kept old text of a file rewritten in place.
inline constexpr char kTemporaryMarker[] = ".qxr8tmp.";
inline constexpr char kKeptTextMarker[] = ".qxr8old.";

// A fresh name for a file of this process beside `target` (a name in the
// same folder) carrying `marker`, of the form described above.
wstring writer_file_name(const wstring& target, const char* marker);

// What every such name of a file beside `target` begins with: "." + the
// target's name (unless too long to repeat) + `marker`.
wstring writer_file_prefix(const wstring& target, const char* marker);

// The process id in `name` when it has that form with `marker`, else 0.
int writer_of(const char* name, const char* marker);

// Owns one temporary file: closes it and removes it when destroyed, unless
// commit() was called after it was renamed into place. One thread.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates a fresh file (mode 0666 less the umask) in `folder` (open; the
  // object keeps a descriptor of its own) beside the file `targetName`.
  // Fails with the Status of the creation when the folder does not allow
  // it.
  Status create(const Directory& folder, const wstring& targetName);

  File& file() { return m_file; }
  // The temporary's name in its folder.
  const wstring& name() const { return m_name; }

  // Closes the file, reporting what close said.
  Status close() { return m_file.close(); }

  // The file was renamed over its target: nothing is left to remove.
  void commit() { m_name.clear(); }

 private:
  Directory m_folder;
  File m_file;
  wstring m_name;
};

// The folder of the launcher file that `path` leads to (its links
// followed), open in `folder` and listed in `entries`, and the file's own
// name in `name`: where a writer's files beside it lie. False when the path
// cannot be resolved or the folder cannot be opened or listed. Any thread.
bool list_writer_folder(const wstring& path, Directory& folder, wstring& name,
                        std::vector<DirectoryEntry>& entries);

// Removes from `folder` every temporary of this writer whose process no
// longer exists (a writer killed between creating and renaming it).
// Temporaries of running processes, of other users' processes and of this
// process stay; so do names that do not follow the pattern exactly. Any
// thread; an unreadable folder is left alone.
void remove_stale_temporaries(const Directory& folder);

#endif  // QXR8_CONFIG_TEMPORARY_FILE_H_
