// Room on a file system, asked before anything is written, so that a run
// that cannot complete fails at once with the catalog untouched instead of
// filling the disk and rolling back.
//
// No shared state; any thread.
#ifndef QXR8_INSTALL_SPACE_CHECK_H_
#define QXR8_INSTALL_SPACE_CHECK_H_

#include <cstdint>
#include <string>

// Bytes an unprivileged writer may still use on the file system that holds
// the open `fd` (or `path` when fd is -1): f_bavail blocks of f_frsize.
// False when the system cannot tell (then nothing is refused).
bool available_space(int fd, const std::string& path, uint64_t& bytes);

// 0 when `needed` bytes fit in what available_space reports; 112
// (ERROR_DISK_FULL) when they do not; 0 when the room cannot be read.
unsigned check_space(int fd, const std::string& path, uint64_t needed);

#endif  // QXR8_INSTALL_SPACE_CHECK_H_
