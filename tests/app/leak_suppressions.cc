// The suppressions of leak_suppressions.h for the test programs themselves
// (the programs they start get them through LSAN_OPTIONS).
#include "leak_suppressions.h"

extern "C" const char* __lsan_default_suppressions() { return app_test::kGuiLeakSuppressions; }
