#include "platform/termination_signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <initializer_list>

namespace {

volatile sig_atomic_t g_signal = 0;
std::atomic<bool> g_installActive{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");

void on_termination(int signal) {
  g_signal = signal;
  if (!g_installActive.load()) {
    ::signal(signal, SIG_DFL);
    ::raise(signal);
  }
}

}  // namespace

void catch_termination_signals() {
  ::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = on_termination;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction old;
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

int termination_signal() { return g_signal; }

void set_install_active(bool active) { g_installActive.store(active); }

bool install_active() { return g_installActive.load(); }

void end_by_termination_signal() {
  const int signal = g_signal != 0 ? g_signal : SIGTERM;
  ::signal(signal, SIG_DFL);
  ::raise(signal);
  _exit(128 + signal);
}
