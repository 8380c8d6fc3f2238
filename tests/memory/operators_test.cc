// The replaced global operators reach the manager's heap, and the programs
// are linked with them.
#include <malloc.h>
#include <sys/stat.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "stat_heap_fixture.h"

using vorn::MemoryStats;

namespace {

struct Delta {
  int64_t blocks;
  int64_t bytes;
};

Delta operator-(const MemoryStats& a, const MemoryStats& b) {
  return Delta{a.blocks - b.blocks, a.bytes - b.bytes};
}

}  // namespace

TEST_F(StatHeapTest, EveryFormOfNewAndDeleteGoesThroughTheHeap) {
  vorn::memory_manager()->setStatEnabled(true);
  MemoryStats s0 = stats();
  int* one = escape(new int(5));
  MemoryStats s1 = stats();
  delete one;
  MemoryStats s2 = stats();
  char* many = escape(new char[300]);
  MemoryStats s3 = stats();
  delete[] many;
  MemoryStats s4 = stats();
  double* quiet = escape(new (std::nothrow) double);
  MemoryStats s5 = stats();
  ::operator delete(quiet, std::nothrow);
  MemoryStats s6 = stats();
  void* raw = escape(::operator new(77));
  size_t rawUsable = malloc_usable_size(raw);
  MemoryStats s7 = stats();
#if defined(__cpp_sized_deallocation)
  ::operator delete(raw, 77);  // sized form
#else
  ::operator delete(raw);  // compilers that do not declare the sized forms
#endif
  MemoryStats s8 = stats();
  int* quietArray = escape(new (std::nothrow) int[9]);
  MemoryStats s9 = stats();
#if defined(__cpp_sized_deallocation)
  ::operator delete[](quietArray, 9 * sizeof(int));
#else
  ::operator delete[](quietArray);
#endif
  MemoryStats s10 = stats();

  EXPECT_EQ((s1 - s0).blocks, 1);
  EXPECT_EQ((s2 - s0).blocks, 0);
  EXPECT_EQ((s3 - s2).blocks, 1);
  EXPECT_GE((s3 - s2).bytes, 300);
  EXPECT_EQ((s4 - s2).blocks, 0);
  EXPECT_EQ((s4 - s2).bytes, 0);
  EXPECT_EQ((s5 - s4).blocks, 1);
  EXPECT_EQ((s6 - s4).blocks, 0);
  EXPECT_EQ((s7 - s6).blocks, 1);
  EXPECT_EQ((s7 - s6).bytes, static_cast<int64_t>(rawUsable));
  EXPECT_EQ((s8 - s6).bytes, 0);
  EXPECT_EQ((s9 - s8).blocks, 1);
  EXPECT_EQ((s10 - s8).blocks, 0);
  EXPECT_EQ((s10 - s0).bytes, 0);
}

TEST_F(StatHeapTest, StandardContainersAllocateThroughTheHeap) {
  vorn::memory_manager()->setStatEnabled(true);
  MemoryStats before = stats();
  Delta inside{0, 0};
  {
    std::string text(200, 'x');
    std::vector<int> numbers(50, 1);
    auto shared = std::make_shared<std::string>(100, 'y');
    inside = stats() - before;
  }
  Delta after = stats() - before;
  EXPECT_EQ(inside.blocks, 4);  // the string, the vector, the shared block and its string
  EXPECT_GE(inside.bytes, static_cast<int64_t>(200 + 50 * sizeof(int) + 100));
  EXPECT_EQ(after.blocks, 0);
  EXPECT_EQ(after.bytes, 0);
}

TEST(GlobalOperators, ZeroSizedNewGivesDistinctBlocks) {
  void* a = escape(::operator new(0));
  void* b = escape(::operator new(0));
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_NE(a, b);
  ::operator delete(a);
  ::operator delete(b);
}

TEST(GlobalOperators, OverAlignedFormsStayPairedAndAligned) {
  struct alignas(64) Wide {
    char bytes[64];
  };
  Wide* w = escape(new Wide());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(w) % 64, 0u);
  delete w;
  Wide* ws = escape(new Wide[3]);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(ws) % 64, 0u);
  delete[] ws;
}

// The programs must carry the replaced operators and the manager. Each is
// checked once it has been built; a build of the memory targets alone has
// no programs to look at.
TEST(ProgramsLinkTheRuntime, SetupAndToolDefineTheOperators) {
  const char* programs[] = {"setup", "xdktool"};
  int checked = 0;
  for (const char* name : programs) {
    std::string path = std::string(QXR8_BINARY_DIR) + "/bin/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    const test_support::ChildResult nm =
        test_support::run_program({"/usr/bin/nm", "--defined-only", path});
    ASSERT_EQ(nm.status, 0) << path << ": " << nm.err;
    const std::string& symbols = nm.out;
    SCOPED_TRACE(path);
    EXPECT_NE(symbols.find(" T _Znwm\n"), std::string::npos);        // new
    EXPECT_NE(symbols.find(" T _Znam\n"), std::string::npos);        // new[]
    EXPECT_NE(symbols.find(" T _ZdlPv\n"), std::string::npos);       // delete
    EXPECT_NE(symbols.find(" T _ZdlPvm\n"), std::string::npos);      // sized delete
    EXPECT_NE(symbols.find(" T _ZdaPv\n"), std::string::npos);       // delete[]
    EXPECT_NE(symbols.find(" T create_memory_manager\n"), std::string::npos);
    EXPECT_NE(symbols.find(" T _ZN4vorn17DebugMutexMonitor7startUpEv\n"), std::string::npos);
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "neither setup nor xdktool is built yet";
}
