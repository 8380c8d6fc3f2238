// A page with the side picture and a text: the welcome and failure pages.
#ifndef QXR8_APP_MESSAGE_PAGE_H_
#define QXR8_APP_MESSAGE_PAGE_H_

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>

#include "app/wizard_dialog_page.h"
#include "platform/wstring.h"

class MessagePage : public WizardDialogPage {
 public:
  // Puts the picture at (0, 0) and the main-area label into `parent` and
  // shows `message` in it. The picture stays owned by the caller (the image
  // takes its own reference). Main thread.
  MessagePage(GtkWidget* parent, GdkPixbuf* picture, const wstring& message);

  // Replaces the label's text. Main thread.
  void setMessage(const wstring& message);

  GtkWidget* image;
  GtkWidget* label;
};

#endif  // QXR8_APP_MESSAGE_PAGE_H_
