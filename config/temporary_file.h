// The writer's temporary file beside the launcher file it will replace.
//
// Its name is "." + the file's name + ".qxr8tmp." + the writing process's id
// + "." + eight random letters or digits (".qxr8tmp.<pid>.<random>" alone when
// the file's name is too long to repeat), so that a later write can tell a
// temporary left by a killed process from a user's file and from the live
// temporary of a writer that is still running.
#ifndef QXR8_CONFIG_TEMPORARY_FILE_H_
#define QXR8_CONFIG_TEMPORARY_FILE_H_

#include <string>

// Owns one temporary file: closes it and removes it when destroyed, unless
// commit() was called after it was renamed into place. One thread.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates a fresh file (mode 0666 less the umask) in the folder of
  // `target`. False, with errno set, when the folder does not allow it.
  bool create(const std::string& target);

  int fd() const { return m_fd; }
  const std::string& name() const { return m_name; }

  // Closes the descriptor; false when the close reports an error.
  bool close();

  // The file was renamed over its target: nothing is left to remove.
  void commit() { m_name.clear(); }

 private:
  int m_fd = -1;
  std::string m_name;
};

// Removes from `dir` every temporary of this writer whose process no longer
// exists (a writer killed between creating and renaming it). Temporaries of
// running processes, of other users' processes and of this process stay;
// so do names that do not follow the pattern exactly. Any thread; an
// unreadable folder is left alone.
void remove_stale_temporaries(const std::string& dir);

#endif  // QXR8_CONFIG_TEMPORARY_FILE_H_
