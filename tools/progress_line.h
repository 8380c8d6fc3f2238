// One progress line on a terminal, redrawn in place on standard error: how
// much of how much is done (bytes, or files), the rate and the time left
// once they can be told, and the item at hand, cut to the terminal's width
// without splitting a character. Nothing at all when disabled: standard
// error is no terminal (a pipe, a log, cron), or the command is quiet.
// Main thread.
#ifndef QXR8_TOOLS_PROGRESS_LINE_H_
#define QXR8_TOOLS_PROGRESS_LINE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/wstring.h"

enum class ProgressUnit { kBytes, kFiles };

// "42%  21.3 MB of 50.7 MB  12.1 MB/s  0:03 left", or with files "3 of 12
// files"; the rate and the time left only once `seconds` have passed
// (half a second at least) and something is done. Pure; any thread.
std::string progress_text(uint64_t done, uint64_t total, ProgressUnit unit, double seconds);

// Whether a command draws progress: standard error is a terminal and the
// command is not `quiet`.
bool progress_wanted(bool quiet);

class ProgressLine {
 public:
  ProgressLine(bool enabled, ProgressUnit unit);
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Shows `done` of `total` and `label` (a path: its tail is kept when it
  // is too long). Redrawn at most ten times a second, so that thousands of
  // small files cost no more than a few lines, but always once everything
  // is done.
  void show(uint64_t done, uint64_t total, const wstring& label);

  // Ends a drawn line with a newline, so what follows starts on its own.
  void finish();

 private:
  bool m_enabled;
  ProgressUnit m_unit;
  bool m_drawn = false;
  size_t m_columns = 80;
  std::chrono::steady_clock::time_point m_start;
  std::chrono::steady_clock::time_point m_lastDraw;
};

#endif  // QXR8_TOOLS_PROGRESS_LINE_H_
