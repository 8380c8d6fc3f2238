#include "app/progress_page.h"

#include <algorithm>
#include <string>

#include "app/accessibility.h"
#include "app/layout_scale.h"
#include "app/ui_text.h"
#include "platform/utf8.h"
#include "res/string_table.h"

namespace {
constexpr int kStatusX = 10;
constexpr int kStatusY = 130;
constexpr int kBarX = 10;
constexpr int kBarY = 150;
constexpr int kBarHeight = 20;
constexpr int kDetailX = 10;
constexpr int kDetailY = 180;
}  // namespace

ProgressPage::ProgressPage(GtkWidget* parent, int barWidth)
    : WizardDialogPage(parent), label(nullptr), bar(nullptr), detailLabel(nullptr) {
  label = gtk_label_new(nullptr);
  widgets.push_back(label);
  put_scaled(parent, label, kStatusX, kStatusY);
  bar = gtk_progress_bar_new();
  widgets.push_back(bar);
  put_scaled(parent, bar, kBarX, kBarY, barWidth, kBarHeight);
  detailLabel = gtk_label_new(nullptr);
  widgets.push_back(detailLabel);
  gtk_misc_set_alignment(GTK_MISC(detailLabel), 0.0f, 0.5f);
  gtk_label_set_ellipsize(GTK_LABEL(detailLabel), PANGO_ELLIPSIZE_MIDDLE);
  put_scaled(parent, detailLabel, kDetailX, kDetailY, barWidth);
  startText = to_ui_text(LoadResString("IDS_PROGRESS_START"));
  finishText = to_ui_text(LoadResString("IDS_INSTALL_FINISH"));
  setProgress(0, InstallPosition());
}

void ProgressPage::setProgress(int percent, const InstallPosition& position) {
  gtk_label_set_text(GTK_LABEL(label), percent == 100 ? finishText.c_str() : startText.c_str());
  // The bar is read by the status line above it, whose text may just have
  // changed; its value is the fraction below.
  set_label_for(label, bar);
  // GTK rejects fractions outside [0, 1] with a warning; a posted value is
  // always in range, but the bar must not depend on that.
  // By bytes once the run has planned them, so that the bar moves while one
  // large file is written; by files before, and at the end.
  const double done = position.bytesToWrite != 0 && percent < 100
                          ? static_cast<double>(position.bytesWritten) / position.bytesToWrite
                          : percent / 100.0;
  const double fraction = std::clamp(done, 0.0, 1.0);
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), fraction);
}

void ProgressPage::setDetail(const wstring& path, const InstallPosition& position) {
  // The path is shown as GTK shows file names, like the catalog entry.
  const std::string text =
      position.entries == 0
          ? std::string()
          : fill_in(to_ui_text(LoadResString("IDS_PROGRESS_FILE")),
                    {std::to_string(position.entry), std::to_string(position.entries),
                     path_to_ui_text(path)});
  // The same text again would only queue another relayout.
  if (text != gtk_label_get_text(GTK_LABEL(detailLabel))) {
    gtk_label_set_text(GTK_LABEL(detailLabel), text.c_str());
  }
}
