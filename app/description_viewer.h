// Opening the kit's description with the desktop's opener of documents,
// xdg-open, and saying why when it cannot be opened.
#ifndef QXR8_APP_DESCRIPTION_VIEWER_H_
#define QXR8_APP_DESCRIPTION_VIEWER_H_

#include "platform/wstring.h"

// Starts xdg-open on `document` without a shell (the path is one argument,
// whatever it holds) and without waiting for it. Returns an empty text when
// the opener was started; otherwise why nothing could be: the system's
// reason for a document that does not exist (or has no exact system name),
// or "xdg-open: " and the system's reason when the opener is not in PATH or
// could not be started. What the opener does with the document is the
// desktop's affair. Main thread.
wstring open_description(const wstring& document);

#endif  // QXR8_APP_DESCRIPTION_VIEWER_H_
