// The wizard's half of the termination-signal handling
// (platform/termination_signals.h): a main-loop check that ends the
// process once a signal came during an installation and the run, rollback
// included, is over. Main thread, once, after catch_termination_signals.
#ifndef QXR8_APP_SIGNAL_WATCH_H_
#define QXR8_APP_SIGNAL_WATCH_H_

void watch_termination_signals();

#endif  // QXR8_APP_SIGNAL_WATCH_H_
