#include "install/sleep.h"

#include <time.h>

#include <cerrno>

void Sleep(int milliseconds) {
  if (milliseconds <= 0) return;
  const long long micros = static_cast<long long>(milliseconds) * 1000;
  struct timespec left;
  left.tv_sec = static_cast<time_t>(micros / 1000000);
  left.tv_nsec = static_cast<long>((micros % 1000000) * 1000);
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
