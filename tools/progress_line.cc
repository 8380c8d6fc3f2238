#include "tools/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cwchar>

#include "tools/xdktool_catalog_run.h"

namespace {

// Decimal units, as file managers and download tools show sizes.
std::string size_text(uint64_t bytes) {
  static const char* const kUnits[] = {"kB", "MB", "GB", "TB"};
  if (bytes < 1000) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1000;
  size_t unit = 0;
  while (value >= 1000 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string duration_text(double seconds) {
  const uint64_t whole = static_cast<uint64_t>(seconds + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(whole / 3600),
                  static_cast<unsigned long long>(whole / 60 % 60),
                  static_cast<unsigned long long>(whole % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(whole / 60),
                  static_cast<unsigned long long>(whole % 60));
  }
  return text;
}

// The first position at or after `from` where a character of `text` (in
// the locale's encoding) begins, so that a cut never splits a multibyte
// character into bytes the terminal cannot show. An invalid byte counts
// as one character.
size_t character_start(const std::string& text, size_t from) {
  size_t position = 0;
  std::mbstate_t state = std::mbstate_t();
  while (position < from && position < text.size()) {
    const size_t length = std::mbrlen(text.data() + position, text.size() - position, &state);
    if (length == 0 || length > text.size() - position) {
      state = std::mbstate_t();
      ++position;
    } else {
      position += length;
    }
  }
  return position;
}

}  // namespace

std::string progress_text(uint64_t done, uint64_t total, ProgressUnit unit, double seconds) {
  if (done > total) done = total;
  // Nothing to do is all done.
  const unsigned percent = total == 0 ? 100 : static_cast<unsigned>(done * 100 / total);
  std::string text = std::to_string(percent) + "%  ";
  if (unit == ProgressUnit::kFiles) {
    return text + std::to_string(done) + " of " + std::to_string(total) + " files";
  }
  text += size_text(done) + " of " + size_text(total);
  if (seconds >= 0.5 && done > 0) {
    const double rate = done / seconds;
    text += "  " + size_text(static_cast<uint64_t>(rate)) + "/s  " +
            duration_text((total - done) / rate) + " left";
  }
  return text;
}

bool progress_wanted(bool quiet) { return !quiet && isatty(STDERR_FILENO) == 1; }

ProgressLine::ProgressLine(bool enabled, ProgressUnit unit)
    : m_enabled(enabled), m_unit(unit), m_start(std::chrono::steady_clock::now()) {
  struct winsize size;
  if (m_enabled && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 40) {
    m_columns = size.ws_col;
  }
}

void ProgressLine::show(uint64_t done, uint64_t total, const wstring& label) {
  if (!m_enabled) return;
  const auto now = std::chrono::steady_clock::now();
  if (m_drawn && done < total && now - m_lastDraw < std::chrono::milliseconds(100)) return;
  m_lastDraw = now;
  const double seconds = std::chrono::duration<double>(now - m_start).count();
  std::string line = "\r" + progress_text(done, total, m_unit, seconds) + "  ";
  // The tail of a long path is the informative part.
  std::string tail = printable(label);
  const size_t used = line.size() - 1;  // the "\r" takes no column
  const size_t room = m_columns > used + 1 ? m_columns - used - 1 : 0;
  if (tail.size() > room) {
    tail = room > 8 ? "..." + tail.substr(character_start(tail, tail.size() - (room - 3)))
                    : std::string();
  }
  line += tail;
  line += "\x1b[K";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  m_drawn = true;
}

void ProgressLine::finish() {
  if (m_enabled && m_drawn) std::fputc('\n', stderr);
  m_drawn = false;
}
