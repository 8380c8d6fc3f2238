// Process, user and path services.
#ifndef QXR8_PLATFORM_PROCESS_SERVICES_H_
#define QXR8_PLATFORM_PROCESS_SERVICES_H_

#include <cstddef>
#include <cstdio>

#include "platform/wstring.h"

// Hands a complete command line to the shell (system(3)) and returns its
// status unchanged: -1 when no shell could be started, else the wait status.
// The caller owns the quoting of everything inside the line; no file
// operation of this layer goes through it.
int run_linux_command(const char* commandLine);

// The user's home directory as the expansion of "~" gives it (HOME, else the
// user database); empty when the expansion fails.
wstring home_dir();

// home_dir() + "/.qxr8/". The argument has no effect.
wstring app_data_dir(bool create);

// fopen with the path's exact system name (to_system_path) and the narrowed
// mode; null on failure (errno from fopen, EINVAL for a path the system
// cannot name).
// Mode text is passed through unchanged ("rt, ccs=UNICODE" acts as "r").
FILE* _wfopen(const char16_t* path, const char16_t* mode);

// True exactly for the one-unit text "/".
bool isDiskRoot(const wstring& path);

// Starts `argv[0]` (looked up in PATH) with the given arguments, without a
// shell: every argument reaches the program as one literal word. Standard
// input comes from /dev/null; standard error goes to /dev/null when
// `quietStderr`; signals start unblocked and at their defaults. With `wait`,
// blocks until the program ends and returns its wait status; otherwise
// returns 0 once it has started (it is never left as our zombie). Returns -1
// when the program could not be started, also when it is not in PATH. Any
// thread.
int spawn_program(const char* const* argv, bool quietStderr, bool wait);

// The login name of the user `uid`, or the number when the user database
// has none.
wstring user_name(unsigned uid);

// Whether the process `pid` exists (a process of another user counts).
bool process_exists(int pid);

#endif  // QXR8_PLATFORM_PROCESS_SERVICES_H_
