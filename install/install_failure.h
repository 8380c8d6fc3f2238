// What made an installation run fail, told so that a person can act on it,
// and what a run did, counted as it went. Plain values: any thread may copy
// them; InstallProcessData carries them from the worker to the caller.
#ifndef QXR8_INSTALL_INSTALL_FAILURE_H_
#define QXR8_INSTALL_INSTALL_FAILURE_H_

#include "platform/wstring.h"

struct InstallFailure {
  unsigned code = 0;     // the Windows-style code posted with "IDS_INSTALL_ERROR"
  wstring path;          // the file or folder whose operation failed (may be empty)
  int systemError = 0;   // errno behind it, 0 when none
};

// "PATH: REASON (CODE)" for people, for example
// "/home/u/t/forms/order.frm: No space left on device (112)". REASON is the
// system's text for systemError when there is one, else a short English
// text for the code; without a path just "REASON (CODE)". Any thread.
wstring describe_failure(const InstallFailure& failure);

struct InstallStats {
  unsigned long filesNew = 0;        // written where nothing stood
  unsigned long filesReplaced = 0;   // written over an older copy
  unsigned long filesUpToDate = 0;   // kept: the installed copy is not older than the kit's
  unsigned long long bytesWritten = 0;
};

#endif  // QXR8_INSTALL_INSTALL_FAILURE_H_
