// The wizard for a screen reader and for the keyboard alone: which control
// has the focus on each page, and what the side picture is called.
#include "app/accessibility.h"
#include "app/installer_dlg.h"
#include "platform/utf8.h"
#include "res/string_table.h"

void CInstallerDlg::focusCurrentPage() {
  if (window == nullptr) return;
  GtkWidget* target = buttonNext;  // the welcome page's Next, a final page's Finish
  if (curPage == nullptr) {
    target = nullptr;
  } else if (curPage == dirSelectPage) {
    target = dirSelectPage->entry;
  } else if (curPage == successPage) {
    // Space then ticks or clears the box at once; Return still finishes,
    // since a check box leaves the default to Finish.
    target = successPage->openDescrCheck;
  } else if (curPage == progressPage) {
    target = buttonCancel;
  }
  give_keyboard_focus(window, target);
  if (curPage != nullptr && curPage == dirSelectPage) {
    // A proposed path is replaced more often than edited: typing replaces
    // it whole, and the arrow keys still reach every character.
    gtk_editable_select_region(GTK_EDITABLE(dirSelectPage->entry), 0, -1);
  }
}

void CInstallerDlg::nameSidePicture(GtkWidget* picture) {
  wstring product;
  wstring vendor;
  titles(product, vendor);
  if (product.empty()) product = LoadResString("IDS_DEFPRODUCT");
  set_accessible_name(picture, to_ui_text(product));
}
