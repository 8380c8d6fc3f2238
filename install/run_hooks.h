// Points in a run where a test may step in, to make a window certain that
// a race would only open sometimes: someone swapping a folder of a shared
// catalog for a link just after a plan was made, say. Nothing is called
// unless a test set a hook; a run pays one load of a pointer per point.
//
// The hook is called on the run's own thread; set it before the run starts
// and clear it after.
#ifndef QXR8_INSTALL_RUN_HOOKS_H_
#define QXR8_INSTALL_RUN_HOOKS_H_

#include <functional>

enum class RunPoint {
  kRemovalPlanned,   // a removal's plan is made, nothing moved yet
  kJournalRead,      // a recovery has checked the dead run's journal
  kGroupJournaled,   // a group's records are on disk, no old copy moved yet
};

void set_run_hook(std::function<void(RunPoint)> hook);
void run_hook(RunPoint point);

#endif  // QXR8_INSTALL_RUN_HOOKS_H_
