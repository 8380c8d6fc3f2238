// A page of the wizard: a set of widgets at fixed positions in the dialog's
// GtkFixed container, shown and hidden together by the dialog.
#ifndef QXR8_APP_WIZARD_DIALOG_PAGE_H_
#define QXR8_APP_WIZARD_DIALOG_PAGE_H_

#include <gtk/gtk.h>

#include <vector>

// Position and size of the main-area label, beside the side picture. The
// label wraps its text at its width, so 320 (not the 330 up to the window's
// edge) keeps a 10-pixel right margin, as on the left of the buttons.
inline constexpr int kMainAreaX = 170;
inline constexpr int kMainAreaY = 10;
inline constexpr int kMainAreaWidth = 320;
inline constexpr int kMainAreaHeight = 250;

class WizardDialogPage {
 public:
  // `parent` is the dialog's GtkFixed; it keeps (and destroys) every widget
  // the page puts into it. Main thread.
  explicit WizardDialogPage(GtkWidget* parent) : parent(parent) {}
  virtual ~WizardDialogPage() = default;
  WizardDialogPage(const WizardDialogPage&) = delete;
  WizardDialogPage& operator=(const WizardDialogPage&) = delete;

  // Called by the dialog each time the page's widgets have been shown.
  // Main thread.
  virtual void onShow() {}

  GtkWidget* parent;
  // Every widget of the page in creation order: exactly what the dialog
  // shows and hides. Not owned (the container owns them).
  std::vector<GtkWidget*> widgets;
};

// A new, hidden, empty label for the main area: 320 x 250 at (170, 10) in
// `parent` (both scaled with the layout, layout_scale.h), wrapping, its text
// starting at the top left. The container owns it. Main thread.
GtkWidget* createMainAreaLabel(GtkWidget* parent);

#endif  // QXR8_APP_WIZARD_DIALOG_PAGE_H_
