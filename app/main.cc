// The setup program: installs the distribution kit that lies beside it.
#include <gdk/gdk.h>
#include <glib.h>

#include "app/installer_app.h"
#include "app/signal_watch.h"
#include "platform/termination_signals.h"

int main(int argc, char** argv) {
  // Current GLib is always ready for threads and marks these calls
  // deprecated; they are kept so that an older GLib is set up the same way
  // before the worker thread exists.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  g_thread_init(nullptr);
  gdk_threads_init();
#pragma GCC diagnostic pop
  // Before the worker exists, so that every thread inherits the dispositions.
  catch_termination_signals();
  watch_termination_signals();
  CInstallerApp app(argc, argv);
  return app.InitInstance();
}
