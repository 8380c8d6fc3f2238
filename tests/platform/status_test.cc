// A failure's reason in words: the errno it carries decides them, the code
// only when there is no errno.
#include "platform/status.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <string>

#include "platform/text_encoding.h"

namespace {

struct ReasonCase {
  const char* name;
  Status status;
  const char* described;  // describe_status, in the C locale
};

Status with(unsigned code, int err, const char16_t* path, const char16_t* note = u"") {
  Status status = error_status(code, path);
  status.systemError = err;
  status.note = note;
  return status;
}

TEST(StatusReason, TheErrnoCarriedDecidesTheWordsNotTheCode) {
  // The layer selects the environment's locale on its first conversion:
  // that happens first, so that the C locale chosen here stays.
  narrow_lib(u"");
  ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
  const ReasonCase cases[] = {
      {"refused folder", status_of_errno(EACCES, u"/c/ro"), "/c/ro: Permission denied (87)"},
      // A carrier that mapped EACCES to "not found" still reads as refused.
      {"code derived wrongly", with(kErrorFileNotFound, EACCES, u"/c/k"),
       "/c/k: Permission denied (2)"},
      {"missing", status_of_errno(ENOENT, u"/c/x"), "/c/x: No such file or directory (2)"},
      {"full disk", status_of_errno(ENOSPC, u""), "No space left on device (112)"},
      {"errno and note", with(kErrorCantWrite, EROFS, u"/t", u"no temporary file"),
       "/t: Read-only file system; no temporary file (1013)"},
      {"no errno: the code's words", error_status(kErrorFileNotFound, u"/c/y"),
       "/c/y: The file does not exist (2)"},
      {"no errno, unknown code", error_status(4242), "The operation failed (4242)"},
  };
  for (const ReasonCase& c : cases) {
    EXPECT_EQ(narrow_lib(describe_status(c.status)), c.described) << c.name;
  }
  // The codes callers compare stay as they were.
  EXPECT_EQ(status_of_errno(EACCES, u"").code, kErrorInvalidParameter);
  EXPECT_EQ(status_of_errno(ENOENT, u"").code, kErrorFileNotFound);
  EXPECT_EQ(status_of_errno(EDQUOT, u"").code, kErrorDiskFull);
}

}  // namespace
