// The one way a failure travels from the system up to the person who reads
// it: the Windows-style code the operation answers with, the path it
// concerned and the errno of the system call that failed. Operations return
// a Status (or store one where a Status cannot be returned); nobody guesses
// the reason later from a process-wide slot.
//
// Plain values; any thread may copy them.
#ifndef QXR8_PLATFORM_STATUS_H_
#define QXR8_PLATFORM_STATUS_H_

#include "platform/error_codes.h"
#include "platform/wstring.h"

struct Status {
  unsigned code = kErrorSuccess;  // 0 success, else a code of error_codes.h
  wstring path;                   // the file or folder concerned (may be empty)
  int systemError = 0;            // errno behind the code, 0 when none
  wstring note;                   // what else a person must know (may be empty)

  bool ok() const { return code == kErrorSuccess; }
};

// A failure found without a failed system call (a bad argument, a refused
// name, something in the way).
Status error_status(unsigned code, const wstring& path = wstring());

// The code of a failed system call: 2 for a missing entry, 3 for a level
// that is not a folder, 112 for a full disk or quota, 223 for a file past
// the size limit, 183 for a name that is taken, 32 for a lock held
// elsewhere, else 87 (the layer's rule for every other reason).
unsigned code_of_system_error(int err);

// The Status of a system call that failed with `err` on `path`.
Status status_of_errno(int err, const wstring& path);

// "PATH: REASON (CODE)" for people, for example
// "/home/u/t/forms/order.frm: Read-only file system (87)". REASON is the
// system's text for systemError when there is one, else a short English
// text for the code, followed by "; " and the note when there is one;
// without a path just "REASON (CODE)".
wstring describe_status(const Status& status);

// The reason alone: the system's text for systemError, else the code's,
// and the note.
wstring status_reason(const Status& status);

#endif  // QXR8_PLATFORM_STATUS_H_
