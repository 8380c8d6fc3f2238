#include "app/signal_watch.h"

#include <glib.h>

#include "platform/termination_signals.h"

namespace {

// How often the main loop looks for a signal that came while a run was
// active and can now take effect.
constexpr guint kCheckIntervalMs = 100;

gboolean check_signal(gpointer) {
  if (termination_signal() != 0 && !install_active()) end_by_termination_signal();
  return TRUE;
}

}  // namespace

void watch_termination_signals() { g_timeout_add(kCheckIntervalMs, check_signal, nullptr); }
