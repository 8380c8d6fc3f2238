// Named steps of the layer at which a test may stop the process, so that
// what a crash leaves at exactly that instant can be looked at: a window
// that a real kill would hit only by chance is made certain. Production
// code never sets an action; then a fault point costs one atomic load.
//
// Any thread: the action is a process-wide atomic pointer, called on the
// thread that reaches the point.
#ifndef QXR8_PLATFORM_FAULT_POINT_H_
#define QXR8_PLATFORM_FAULT_POINT_H_

enum class FaultPoint {
  // File::truncate, before the system call: a file about to be cut.
  kBeforeTruncate,
};

// Called at every fault point reached while it is set; it may end the
// process (that is the point) or return to let the step go on.
using FaultAction = void (*)(FaultPoint point);

// Sets the action (null clears it). Meant for a test's child process.
void set_fault_action(FaultAction action);

// Runs the action set, if any.
void reach_fault_point(FaultPoint point);

#endif  // QXR8_PLATFORM_FAULT_POINT_H_
