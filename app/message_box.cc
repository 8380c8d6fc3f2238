#include "app/message_box.h"

#include <gtk/gtk.h>

#include <string>

#include "platform/utf8.h"

int messageBox(CWnd* owner, const wstring& text, unsigned flags) {
  return messageBox(owner, text, wstring(), flags);
}

int messageBox(CWnd* owner, const wstring& text, const wstring& detail, unsigned flags) {
  GtkMessageType kind = GTK_MESSAGE_OTHER;
  switch (flags >> 24) {
    case 0x01: kind = GTK_MESSAGE_ERROR; break;
    case 0x02: kind = GTK_MESSAGE_QUESTION; break;
    default: break;
  }
  const GtkButtonsType buttons = (flags & 0xFFu) == 2 ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK;
  const std::string message = to_ui_text(text);
  // "%s" keeps a text with "%" in it (a path, a translation) from being
  // read as a format.
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, kind, buttons, "%s",
                                             message.c_str());
  if (!detail.empty()) {
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                             to_ui_text(detail).c_str());
  }
  if (owner != nullptr) {
    gtk_window_set_title(GTK_WINDOW(dialog), to_ui_text(owner->getWindowTitle()).c_str());
  }
  const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  switch (response) {
    case GTK_RESPONSE_YES: return kMsgBoxAnswerYes;
    case GTK_RESPONSE_NO: return kMsgBoxAnswerNo;
    case GTK_RESPONSE_OK: return kMsgBoxAnswerOk;
    default: return kMsgBoxAnswerNone;
  }
}
