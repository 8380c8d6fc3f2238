// The start-up switches, observed in fresh processes: each is read once,
// before main, so only a new process can show another choice.
#include <cstdlib>
#include <cstring>

#include "tests/support/child_process.h"
#include "stat_heap_fixture.h"
#include "memory/memory_manager.h"
#include "memory/mutex_monitor.h"
#include <gtest/gtest.h>

namespace {

const char kHeapVar[] = "r8_dont_use_memory_stat";
const char kMonitorVar[] = "r8_use_mutex_monitor";
const char kExpectVar[] = "QXR8_TEST_EXPECT";

bool expecting(const char* what) {
  const char* e = std::getenv(kExpectVar);
  return e && std::strcmp(e, what) == 0;
}

}  // namespace

// Runs only in a child started below; the parent names what it expects.
TEST(DISABLED_SwitchChild, HeapAndMonitorMatchEnvironment) {
  ASSERT_NE(vorn::g_manager, nullptr);
  ASSERT_EQ(vorn::g_heap, vorn::g_manager->heap());
  ASSERT_NE(vorn::buffer_pools(), nullptr);
  if (expecting("plain")) {
    EXPECT_NE(dynamic_cast<vorn::MemoryHeap<vorn::JEMalloc>*>(vorn::g_heap), nullptr);
    // The plain manager cannot count even when asked to.
    vorn::g_manager->setStatEnabled(true);
    delete escape(new int);
    vorn::MemoryStats s = {1, 1};
    vorn::g_manager->getStats(s);
    EXPECT_EQ(s.blocks, 0);
    EXPECT_EQ(s.bytes, 0);
  } else if (expecting("stat")) {
    EXPECT_NE(dynamic_cast<vorn::StatMemoryHeap<vorn::JEMalloc>*>(vorn::g_heap), nullptr);
    // Statistics start off: nothing allocated so far was counted.
    vorn::MemoryStats s = {1, 1};
    vorn::g_manager->getStats(s);
    EXPECT_EQ(s.blocks, 0);
    EXPECT_EQ(s.bytes, 0);
  } else if (expecting("monitor-on")) {
    EXPECT_TRUE(vorn::use_mutex_monitor());
    vorn::IMutexMonitor* m = vorn::create_mutex_monitor(nullptr, 0);
    EXPECT_NE(dynamic_cast<vorn::DebugMutexMonitor*>(m), nullptr);
    vorn::delete_mutex_monitor(m);
  } else if (expecting("monitor-off")) {
    EXPECT_FALSE(vorn::use_mutex_monitor());
    EXPECT_EQ(vorn::create_mutex_monitor(nullptr, 0), nullptr);
  } else {
    FAIL() << "no expectation given";
  }
}

namespace {

const char kChild[] = "DISABLED_SwitchChild.*";

// `changes` as for test_support::changed_environment: "NAME=value" or a
// bare "NAME" to remove it.
int child(const char* expect, std::vector<std::string> changes) {
  changes.push_back(std::string(kExpectVar) + "=" + expect);
  return test_support::run_self(kChild, changes).status;
}

}  // namespace

TEST(StartUpSwitch, StatHeapWhenVariableIsAbsent) {
  EXPECT_EQ(child("stat", {kHeapVar}), 0);
}

TEST(StartUpSwitch, PlainHeapWhenVariableIsEmpty) {
  EXPECT_EQ(child("plain", {std::string(kHeapVar) + "="}), 0);
}

TEST(StartUpSwitch, PlainHeapWhenVariableHasAValue) {
  EXPECT_EQ(child("plain", {std::string(kHeapVar) + "=0"}), 0);
}

TEST(StartUpSwitch, MonitorsOffWhenVariableIsAbsent) {
  EXPECT_EQ(child("monitor-off", {kMonitorVar}), 0);
}

TEST(StartUpSwitch, MonitorsOnWhenVariableIsEmpty) {
  EXPECT_EQ(child("monitor-on", {std::string(kMonitorVar) + "="}), 0);
}

// The child really checks: a wrong expectation makes it fail.
TEST(StartUpSwitch, ChildReportsAMismatch) {
  EXPECT_EQ(child("plain", {kHeapVar}), 1);
  EXPECT_EQ(child("monitor-on", {kMonitorVar}), 1);
}
