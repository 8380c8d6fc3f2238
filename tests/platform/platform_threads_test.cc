// The two things threads share in the platform layer: the locale, which
// the first conversion selects, and the process-wide last-error slot.
// Built also with ThreadSanitizer. The first conversion of this process
// happens inside the threads on purpose.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/text_encoding.h"

namespace {

TEST(PlatformThreads, ConcurrentConversionsFromAColdStartAgree) {
  const wstring wide = {0x0416, u'/', u'x', 0x20AC, 0xD800, u'z'};
  const std::string expected = "\xD0\x96/x\xE2\x82\xAC?z";
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        std::string narrow = narrow_lib(wide);
        if (narrow != expected) ++mismatches;
        if (widen_lib(narrow) != wstring({0x0416, u'/', u'x', 0x20AC, u'?', u'z'})) ++mismatches;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST(PlatformThreads, LastErrorIsOneSharedSlot) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 500; ++i) {
        unsigned read = 0;
        char byte;
        if (t % 2 == 0) {
          FileSystem::ReadFile(kInvalidHandleValue, &byte, 1, &read, nullptr);  // 87
        } else {
          FileSystem::SetFilePointer(kInvalidHandleValue, 0, nullptr, kFileBegin);  // 6
        }
        unsigned seen = FileSystem::GetLastError();
        EXPECT_TRUE(seen == 0 || seen == 6 || seen == 87) << seen;
      }
    });
  }
  for (auto& t : threads) t.join();
  FileSystem::SetFilePointer(kInvalidHandleValue, 0, nullptr, kFileBegin);
  EXPECT_EQ(FileSystem::GetLastError(), 6u);
}

}  // namespace
