// The base of the wizard's windows: the one thing a message box asks of its
// owner is the caption to show.
#ifndef QXR8_APP_CWND_H_
#define QXR8_APP_CWND_H_

#include "platform/wstring.h"

class CWnd {
 public:
  virtual ~CWnd() = default;

  // The caption of this window and of the message boxes it owns. The base
  // has none (empty string). Main thread.
  virtual wstring getWindowTitle() const { return wstring(); }
};

#endif  // QXR8_APP_CWND_H_
