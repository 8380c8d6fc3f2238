#include "platform/fault_point.h"

#include <atomic>

namespace {
std::atomic<FaultAction> g_faultAction{nullptr};
}  // namespace

void set_fault_action(FaultAction action) { g_faultAction.store(action); }

void reach_fault_point(FaultPoint point) {
  const FaultAction action = g_faultAction.load(std::memory_order_relaxed);
  if (action != nullptr) action(point);
}
