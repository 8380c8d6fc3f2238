// The wizard's modal message box.
#ifndef QXR8_APP_MESSAGE_BOX_H_
#define QXR8_APP_MESSAGE_BOX_H_

#include "app/cwnd.h"
#include "platform/wstring.h"

// Flags: the top byte chooses the kind, the low byte the buttons; in the
// second byte, 0x01 makes No the default button of a Yes/No box (the one
// Enter presses).
inline constexpr unsigned kMsgBoxError = 0x01000000u;
inline constexpr unsigned kMsgBoxQuestion = 0x02000000u;
inline constexpr unsigned kMsgBoxOk = 0x00000001u;
inline constexpr unsigned kMsgBoxYesNo = 0x00000002u;
inline constexpr unsigned kMsgBoxDefaultNo = 0x00000100u;
// The combinations the wizard uses.
inline constexpr unsigned kMsgBoxErrorOk = kMsgBoxError | kMsgBoxOk;            // 0x01000001
inline constexpr unsigned kMsgBoxQuestionYesNo = kMsgBoxQuestion | kMsgBoxYesNo;  // 0x02000002
inline constexpr unsigned kMsgBoxPlainOk = kMsgBoxOk;                            // 0x00000001
inline constexpr unsigned kMsgBoxQuestionDefaultNo = kMsgBoxQuestionYesNo | kMsgBoxDefaultNo;

// Answers of messageBox.
inline constexpr int kMsgBoxAnswerNone = 0;  // closed by the window manager or Escape
inline constexpr int kMsgBoxAnswerYes = 1;
inline constexpr int kMsgBoxAnswerNo = 2;
inline constexpr int kMsgBoxAnswerOk = 3;

// Shows `text` in a modal GTK message dialog and waits for the answer. The
// kind comes from the top byte of `flags` (0x01 error, 0x02 question, other
// values plain), the buttons from the low byte (2 Yes/No, other values OK);
// kMsgBoxDefaultNo makes No the default of a Yes/No box.
// The caption is owner->getWindowTitle() when `owner` is not null, and the
// box is transient for owner->getTransientParent() (centred on it) when
// that is not null. Returns one of the kMsgBoxAnswer* values. GTK must be
// initialised; main thread.
int messageBox(CWnd* owner, const wstring& text, unsigned flags);

// The same box with `detail` as a second paragraph below `text` (GTK's
// secondary text; `text` then reads as the box's heading). An empty detail
// gives exactly the box above. Main thread.
int messageBox(CWnd* owner, const wstring& text, const wstring& detail, unsigned flags);

#endif  // QXR8_APP_MESSAGE_BOX_H_
