// The base of the wizard's windows: what a message box asks of its owner is
// the caption to show and the window to stay in front of.
#ifndef QXR8_APP_CWND_H_
#define QXR8_APP_CWND_H_

#include <gtk/gtk.h>

#include "platform/wstring.h"

class CWnd {
 public:
  virtual ~CWnd() = default;

  // The caption of this window and of the message boxes it owns. The base
  // has none (empty string). Main thread.
  virtual wstring getWindowTitle() const { return wstring(); }

  // The top-level window that the boxes this window owns are transient
  // for (kept above it and centred on it), or null while there is none.
  // Not owned by the caller. Main thread.
  virtual GtkWindow* getTransientParent() const { return nullptr; }
};

#endif  // QXR8_APP_CWND_H_
