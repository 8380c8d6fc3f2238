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
  // order, every position and size scaled with the layout. The entry is
  // labelled by the caption (its accessible name) and Return in it
  // activates the window's default button; the Browse button is named, and
  // has the tooltip, "IDS_CHOOSEDIR_TITLE". The picture stays owned by the
  // caller. Main thread.
  DirSelectPage(GtkWidget* parent, GdkPixbuf* picture);

  // Nothing to do when the page appears; the dialog fills the entry.
  void onShow() override {}

  // Put a path into the entry: a wstring, shown as GTK shows file names
  // (path_to_ui_text), or UTF-8 text as GTK gives it. Main thread.
  void setPath(const wstring& path);
  void setPath(const std::string& path);
  // The entry's text as typed, decoded from UTF-8; empty when GTK has none.
  // While the entry still shows the text that setPath(wstring) put there,
  // that path itself, exactly: its display form may have lost bytes that do
  // not decode. The page leaves cleaning and checking it to the dialog.
  // Main thread.
  wstring getPath() const;

  // Runs a modal folder chooser, transient for the page's window and
  // centred on it; only an accepted folder replaces the entry's text. Main
  // thread.
  void showDirDialog();

  GtkWidget* image;
  GtkWidget* entry;
  GtkWidget* promptLabel;
  GtkWidget* catalogLabel;
  GtkWidget* browseButton;

 private:
  // The last path given to setPath(wstring) and the text shown for it.
  wstring m_shownPath;
  std::string m_shownText;
};

// "clicked" handler of the Browse button; `page` is the DirSelectPage (a
// null pointer does nothing). Returns 0. Main thread.
int button_clicked_handler(GtkWidget* widget, void* page);

#endif  // QXR8_APP_DIR_SELECT_PAGE_H_
