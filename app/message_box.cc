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
  // A modal box without a parent can slip behind the wizard when the user
  // clicks it, and the wizard then looks frozen: the box stays transient
  // for its owner's window, in front of it and centred on it.
  GtkWindow* parent = owner != nullptr ? owner->getTransientParent() : nullptr;
  const GtkDialogFlags dialogFlags = static_cast<GtkDialogFlags>(
      GTK_DIALOG_MODAL | (parent != nullptr ? GTK_DIALOG_DESTROY_WITH_PARENT : 0));
  // "%s" keeps a text with "%" in it (a path, a translation) from being
  // read as a format.
  GtkWidget* dialog = gtk_message_dialog_new(parent, dialogFlags, kind, buttons, "%s",
                                             message.c_str());
  // A question whose Yes is risky must not be answered Yes by a reflexive
  // Enter.
  if (buttons == GTK_BUTTONS_YES_NO && (flags & kMsgBoxDefaultNo) != 0) {
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_NO);
  }
  if (parent != nullptr) gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);
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
