#include "app/success_final_page.h"

#include "app/layout_scale.h"
#include "platform/utf8.h"
#include "res/string_table.h"

SuccessFinalPage::SuccessFinalPage(GtkWidget* parent, GdkPixbuf* picture,
                                   const wstring& message)
    : MessagePage(parent, picture, message), openDescrCheck(nullptr) {
  openDescrCheck =
      gtk_check_button_new_with_label(to_ui_text(LoadResString("IDS_SUCCESS_OPENDESCR")).c_str());
  widgets.push_back(openDescrCheck);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(openDescrCheck), TRUE);
  put_scaled(parent, openDescrCheck, kOpenDescrX, kOpenDescrY);
}

bool SuccessFinalPage::isShowReadmeChecked() const {
  return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(openDescrCheck)) != FALSE;
}
