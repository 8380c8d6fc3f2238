// Reads the mutex-monitor switch and creates the per-thread key in every
// program that links the runtime, before main.
#include "memory/mutex_monitor.h"

namespace {

struct MutexMonitorStartUp {
  MutexMonitorStartUp() { vorn::DebugMutexMonitor::startUp(); }
};

MutexMonitorStartUp s_startUp;

}  // namespace
