// What a program of this system does when it is told to end (SIGTERM at
// logout, SIGINT, SIGHUP when its terminal goes): outside an installation
// it ends at once, by the signal, as it would without a handler; during one
// the signal is only recorded, the run is cancelled and rolled back, and
// the program ends after the rollback. SIGXFSZ is ignored, so a write past
// the file-size limit fails with a code and the ordinary rollback instead
// of killing the process. The wizard and the kit tool set this up alike.
//
// catch_termination_signals is called once, before any thread exists; the
// others may be called from any thread.
#ifndef QXR8_PLATFORM_TERMINATION_SIGNALS_H_
#define QXR8_PLATFORM_TERMINATION_SIGNALS_H_

// Installs the handlers (a signal ignored on entry stays ignored, as under
// nohup or for a background job).
void catch_termination_signals();

// The signal received, or 0.
int termination_signal();

// Whether an installation (its rollback included) is in progress: while
// it is, a signal is only recorded.
void set_install_active(bool active);
bool install_active();

// Ends the process by the recorded signal with its default action.
[[noreturn]] void end_by_termination_signal();

#endif  // QXR8_PLATFORM_TERMINATION_SIGNALS_H_
