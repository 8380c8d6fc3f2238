#include "app/message_page.h"

#include "platform/utf8.h"

MessagePage::MessagePage(GtkWidget* parent, GdkPixbuf* picture, const wstring& message)
    : WizardDialogPage(parent), image(nullptr), label(nullptr) {
  image = gtk_image_new_from_pixbuf(picture);
  widgets.push_back(image);
  gtk_container_add(GTK_CONTAINER(parent), image);
  label = createMainAreaLabel(parent);
  widgets.push_back(label);
  setMessage(message);
}

void MessagePage::setMessage(const wstring& message) {
  gtk_label_set_text(GTK_LABEL(label), to_ui_text(message).c_str());
}
