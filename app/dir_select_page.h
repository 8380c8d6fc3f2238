// The page on which the user chooses the templates catalog.
#ifndef QXR8_APP_DIR_SELECT_PAGE_H_
#define QXR8_APP_DIR_SELECT_PAGE_H_

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>

#include <string>

#include "app/wizard_dialog_page.h"
#include "platform/wstring.h"

class DirSelectPage : public WizardDialogPage {
 public:
  // Side picture, prompt, "Template directory:" label, the entry (280 x 30
  // at (170, 275)) and the Browse button (30 x 30 at (460, 275)), in that
  // order. The picture stays owned by the caller. Main thread.
  DirSelectPage(GtkWidget* parent, GdkPixbuf* picture);

  // Nothing to do when the page appears; the dialog fills the entry.
  void onShow() override {}

  // Put a path into the entry: a wstring (narrowed), or narrow text as GTK
  // and the file chooser give it. Main thread.
  void setPath(const wstring& path);
  void setPath(const std::string& path);
  // The entry's text as typed, widened; empty when GTK has none. The page
  // leaves cleaning and checking it to the dialog. Main thread.
  wstring getPath() const;

  // Runs a modal folder chooser; only an accepted folder replaces the
  // entry's text. Main thread.
  void showDirDialog();

  GtkWidget* image;
  GtkWidget* entry;
  GtkWidget* promptLabel;
  GtkWidget* catalogLabel;
  GtkWidget* browseButton;
};

// "clicked" handler of the Browse button; `page` is the DirSelectPage (a
// null pointer does nothing). Returns 0. Main thread.
int button_clicked_handler(GtkWidget* widget, void* page);

#endif  // QXR8_APP_DIR_SELECT_PAGE_H_
