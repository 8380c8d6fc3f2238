// Room for a run, asked before anything is written, so that a run that
// cannot complete fails at once with the catalog untouched instead of
// filling the disk and rolling back.
//
// No shared state; any thread.
#ifndef QXR8_INSTALL_SPACE_CHECK_H_
#define QXR8_INSTALL_SPACE_CHECK_H_

#include <vector>

#include "install/install_data.h"
#include "install/install_plan.h"
#include "platform/directory.h"
#include "platform/status.h"
#include "platform/wstring.h"

// Success when what `plan` writes fits: every entry it writes counts in
// full (however many entries share bytes of the kit), against the room an
// unprivileged writer has on the catalog's file system; backups take none,
// being renames within it. Otherwise 112, named after the first file that
// would not fit. Room that cannot be read refuses nothing.
Status check_space(const InstallPlan& plan, const std::vector<config::KitEntry>& entries,
                   const Directory& catalog);

#endif  // QXR8_INSTALL_SPACE_CHECK_H_
