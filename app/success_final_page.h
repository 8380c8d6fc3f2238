// The success page: a message page with the "open the description" switch.
#ifndef QXR8_APP_SUCCESS_FINAL_PAGE_H_
#define QXR8_APP_SUCCESS_FINAL_PAGE_H_

#include "app/message_page.h"

// Position of the check box, below the text.
inline constexpr int kOpenDescrX = 170;
inline constexpr int kOpenDescrY = 170;

class SuccessFinalPage : public MessagePage {
 public:
  // The message page, then a check button (switched on) at (170, 170),
  // scaled with the layout. Main thread.
  SuccessFinalPage(GtkWidget* parent, GdkPixbuf* picture, const wstring& message);

  // True while the check button is switched on. Main thread.
  bool isShowReadmeChecked() const;

  GtkWidget* openDescrCheck;
};

#endif  // QXR8_APP_SUCCESS_FINAL_PAGE_H_
