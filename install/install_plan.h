// What an installation would do, decided without doing it: for each entry
// of an opened kit, whether the run would write it where nothing stands,
// write it over an older copy, keep the installed copy, or stop because
// something that is not a file stands in the way. The decisions are the
// engine's own (Installer::compareFiles, the catalog path as the shared
// install state forms it), so the plan cannot drift from a real run on an
// unchanged catalog. For `xdktool install --dry-run`.
//
// Reads the catalog, writes nothing: no file, no folder, no backup tree.
// The caller's thread; the kit must not be used by another thread meanwhile.
#ifndef QXR8_INSTALL_INSTALL_PLAN_H_
#define QXR8_INSTALL_INSTALL_PLAN_H_

#include <vector>

#include "install/install_data.h"
#include "install/install_failure.h"
#include "platform/wstring.h"

struct PlannedWrite {
  wstring destination;  // the catalog path followed by the entry's name, "/" between folders
  bool replaces;        // true: over an older copy; false: where nothing stands
};

struct InstallPlan {
  std::vector<PlannedWrite> writes;  // in kit order
  unsigned long upToDate = 0;        // entries whose installed copy is kept
  unsigned long filesNew = 0;
  unsigned long filesReplaced = 0;
};

// Fills `plan` for installing `kit` (opened) into `catalog`. Returns 0, or
// the code a real run would stop with before writing anything of the
// entry concerned: 183 when something that is not a file (nor a link to
// one) stands at an entry's destination, with that path in `failure`. The
// plan then holds the entries before it.
unsigned plan_install(KitReader& kit, const wstring& catalog, InstallPlan& plan,
                      InstallFailure& failure);

#endif  // QXR8_INSTALL_INSTALL_PLAN_H_
