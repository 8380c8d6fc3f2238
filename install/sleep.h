// A pause of the calling thread.
#ifndef QXR8_INSTALL_SLEEP_H_
#define QXR8_INSTALL_SLEEP_H_

// Suspends the calling thread for `milliseconds` (nothing for 0 or less),
// resuming the wait when a signal interrupts it. Any thread.
void Sleep(int milliseconds);

#endif  // QXR8_INSTALL_SLEEP_H_
