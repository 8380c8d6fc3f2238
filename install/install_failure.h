// What made an installation run fail, told so that a person can act on it,
// and what a run did, counted as it went. Plain values: any thread may copy
// them; InstallProcessData carries them from the worker to the caller.
#ifndef QXR8_INSTALL_INSTALL_FAILURE_H_
#define QXR8_INSTALL_INSTALL_FAILURE_H_

#include "platform/status.h"
#include "platform/wstring.h"

// The code posted with "IDS_INSTALL_ERROR", the file or folder whose
// operation failed and the errno behind it: the layer's Status.
using InstallFailure = Status;

// "PATH: REASON (CODE)" for people (describe_status). Any thread.
inline wstring describe_failure(const InstallFailure& failure) { return describe_status(failure); }

struct InstallStats {
  unsigned long filesNew = 0;        // written where nothing stood
  unsigned long filesReplaced = 0;   // written over an older copy
  unsigned long filesUpToDate = 0;   // kept: the installed copy is not older than the kit's
  unsigned long long bytesWritten = 0;
};

#endif  // QXR8_INSTALL_INSTALL_FAILURE_H_
