// One installation run: walks the kit's file table in order and writes every
// file whose installed copy is missing or older than the kit's, keeping a
// rollback journal; posts its progress into the run's InstallProcessData
// and, when a step fails, posts the failure and rolls everything back.
//
// Runs on the install worker thread; one Installer serves one run.
#ifndef QXR8_INSTALL_INSTALLER_H_
#define QXR8_INSTALL_INSTALLER_H_

#include "install/install_process_data.h"
#include "install/rollback.h"
#include "platform/file_system.h"
#include "platform/wstring.h"

class Installer {
 public:
  Installer();

  // Installs the kit armed in `processData` into its catalog. Returns 0
  // after a complete installation (the state (0, "IDS_INSTALL_FINISH" text,
  // 100) was posted, then the thread paused one second); 1223 after a
  // cancel request (the journal was rolled back, then (1223,
  // "IDS_CANCEL_FINISH" text, percent of the entry) was posted); otherwise
  // the code of the failing step, posted with the "IDS_INSTALL_ERROR" text
  // before the rollback ran. A destination that exists and is neither a
  // regular file nor a link to one ends the run with 183. When run returns
  // the rollback, if any, is complete; after its last post it touches no
  // shared object, so the caller need not wait out the pause.
  unsigned run(InstallProcessData* processData);

  // True when `destination` must be written: it is missing, cannot be
  // read, or its last-write time is earlier than `kitTime`. A destination
  // that is not a regular file (followed through links) is never opened, so
  // a FIFO cannot block the run; it answers true.
  bool compareFiles(const wstring& destination, const _FILETIME& kitTime);

  // Posts (code, "IDS_INSTALL_ERROR" text, percent), then rolls the journal
  // back; returns `code`. The failure detail (code, `path`, `systemError`)
  // and the counts so far are stored in the shared state before the post.
  unsigned stopOnError(unsigned code, unsigned long percent, const wstring& path = wstring(),
                       int systemError = 0);

 private:
  Rollback rollback;
  InstallProcessData* processData;
  InstallStats stats;
};

#endif  // QXR8_INSTALL_INSTALLER_H_
