// The page shown while the worker installs: a status line and a bar.
#ifndef QXR8_APP_PROGRESS_PAGE_H_
#define QXR8_APP_PROGRESS_PAGE_H_

#include <gtk/gtk.h>

#include <string>

#include "app/wizard_dialog_page.h"

class ProgressPage : public WizardDialogPage {
 public:
  // Status line at (10, 130), bar of barWidth x 20 at (10, 150), both in
  // `parent` and given for the reference layout (scaled with it,
  // layout_scale.h); starts at 0 %. Main thread.
  ProgressPage(GtkWidget* parent, int barWidth);

  // Moves the bar to percent / 100; the status line reads the finish text at
  // exactly 100 and the start text otherwise, and is the bar's label (its
  // accessible name). Main thread.
  void setProgress(int percent);

  GtkWidget* label;
  GtkWidget* bar;
  std::string startText;   // "IDS_PROGRESS_START", UTF-8
  std::string finishText;  // "IDS_INSTALL_FINISH", UTF-8
};

#endif  // QXR8_APP_PROGRESS_PAGE_H_
