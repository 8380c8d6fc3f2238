#include "install/run_hooks.h"

namespace {
std::function<void(RunPoint)>& hook_slot() {
  static std::function<void(RunPoint)> slot;
  return slot;
}
}  // namespace

void set_run_hook(std::function<void(RunPoint)> hook) { hook_slot() = std::move(hook); }

void run_hook(RunPoint point) {
  const std::function<void(RunPoint)>& hook = hook_slot();
  if (hook) hook(point);
}
