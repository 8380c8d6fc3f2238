// The sweep a registration makes of the writer's temporaries beside a
// launcher file before it writes. The writer's own sweep
// (remove_stale_temporaries) trusts a temporary's process id and so keeps
// for good one whose writer died in a power cut, once a process of the
// next boot has taken over that id. A registration knows more: every
// writer of the launcher files writes while holding the registration lock,
// so while it is held no writer that could own such a temporary is alive.
#ifndef QXR8_CONFIG_TEMPORARY_SWEEP_H_
#define QXR8_CONFIG_TEMPORARY_SWEEP_H_

#include "config/registration_lock.h"
#include "platform/wstring.h"

// Removes from the folder of the launcher file at `path` (links followed
// to the file really written) every temporary of that file's writer
// (temporary_file.h: the name's exact pattern, nothing else) that is a
// regular file owned by this user, whatever process id its name holds.
// Links are never followed (a link of that name is left alone), and every
// step goes through the folder's descriptor. Does nothing unless `lock` is
// held, the only state in which no writer can be alive. Returns nothing: a
// temporary that stays costs room, never correctness. One thread, the
// lock's.
void sweep_writer_temporaries(const wstring& path, const RegistrationLock& lock);

#endif  // QXR8_CONFIG_TEMPORARY_SWEEP_H_
