// Moving a file, a symbolic link or a directory tree to another file system
// inside the process, where rename(2) answers EXDEV. No program is started.
//
// The copy is made under a hidden temporary name (".r8" and twelve
// characters of [a-z0-9], created exclusively, never through a link) in the
// target's own directory, with the source's mode, access and modification
// times (nanoseconds) and, where the system allows it, owner and group. Only
// when it is complete is it renamed to the target name, and only then is the
// source removed. So a partial copy never stands under the target name.
//
// A failure removes the temporary and leaves the source where it was. For a
// file or a link the target is then exactly as it was too: a target that
// was replaced is swapped back when the source cannot be removed (an atomic
// exchange; on a file system without one the new copy stays in place of the
// old target, and the failure is still reported). A directory's source tree
// is removed after its copy is in place; if that fails, the copy stays at
// the target, what could not be removed stays at the source, and the
// failure is reported.
//
// A kill leaves at most one hidden temporary in the target's directory
// (the copy in the making, or the replaced target between the exchange and
// its removal); the source is removed last, so it is never lost.
//
// Any thread may call it. Other kinds of file (FIFOs, devices, sockets) are
// not moved (EOPNOTSUPP). A tree is copied with two descriptors per level,
// so a tree deeper than the descriptor limit fails cleanly (EMFILE).
#ifndef QXR8_PLATFORM_CROSS_DEVICE_MOVE_H_
#define QXR8_PLATFORM_CROSS_DEVICE_MOVE_H_

#include <functional>
#include <string>

// Called with the full path of each hidden temporary just before it is
// created; answering false stops the move (ECANCELED), with nothing
// created. Lets a caller journal the name first, so that a run killed in the
// middle can find and remove it.
using BeforeTemporary = std::function<bool(const std::string& temporaryPath)>;

// Moves `source` to the path `target` (the exact name it gets, not a
// directory to move into). Returns 0 when the source now stands at the target
// and no longer where it was, else the errno of the call that failed (errno
// is set to it as well). Rename's rules hold: a file or link replaces a file
// or link but not a directory (EISDIR); a directory replaces only an empty
// directory.
int move_across_file_systems(const std::string& source, const std::string& target,
                             const BeforeTemporary& beforeTemporary = nullptr);

#endif  // QXR8_PLATFORM_CROSS_DEVICE_MOVE_H_
