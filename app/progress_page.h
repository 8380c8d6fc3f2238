// The page shown while the worker installs: a status line and a bar.
#ifndef QXR8_APP_PROGRESS_PAGE_H_
#define QXR8_APP_PROGRESS_PAGE_H_

#include <gtk/gtk.h>

#include <string>

#include "app/wizard_dialog_page.h"
#include "install/install_process_data.h"
#include "platform/wstring.h"

class ProgressPage : public WizardDialogPage {
 public:
  // Status line at (10, 130), bar of barWidth x 20 at (10, 150) and the
  // detail line, barWidth wide, at (10, 180), all in `parent` and given for
  // the reference layout (scaled with it, layout_scale.h); starts at 0 %
  // with an empty detail line. Main thread.
  ProgressPage(GtkWidget* parent, int barWidth);

  // Moves the bar to the share of the bytes written (`position`), or to
  // percent / 100 where the run has no bytes to count and at the end; the
  // status line reads the finish text at exactly 100 and the start text
  // otherwise, and is the bar's label (its accessible name). Main thread.
  void setProgress(int percent, const InstallPosition& position = InstallPosition());

  // The detail line below the bar: "IDS_PROGRESS_FILE" with the entry's
  // number, the number of entries and `path` (the file being written), or
  // nothing when `position` names no entry (before the first and after the
  // last). A path too long for the line loses its middle. Main thread.
  void setDetail(const wstring& path, const InstallPosition& position);

  GtkWidget* label;
  GtkWidget* bar;
  GtkWidget* detailLabel;
  std::string startText;   // "IDS_PROGRESS_START", UTF-8
  std::string finishText;  // "IDS_INSTALL_FINISH", UTF-8
};

#endif  // QXR8_APP_PROGRESS_PAGE_H_
