#include "tests/support/test_locale.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "tests/support/temp_dir.h"

namespace test_support {

const char kSingleByteLocale[] = "ru_RU.ISO-8859-5";

namespace {

bool run_localedef(const std::string& target) {
  const pid_t pid = fork();
  if (pid == 0) {
    execlp("localedef", "localedef", "-i", "ru_RU", "-f", "ISO-8859-5", target.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid;
}

}  // namespace

std::string single_byte_locale_dir() {
  // Built once; the directory goes when the process ends.
  static TempDir dir("/tmp", "qxr8-locale-");
  static const bool built = [] {
    if (!dir.ok()) return false;
    run_localedef(dir / kSingleByteLocale);
    struct stat st;
    return ::stat((dir / kSingleByteLocale + "/LC_CTYPE").c_str(), &st) == 0;
  }();
  return built ? dir.path() : std::string();
}

ScopedLocale::ScopedLocale(const char* name) : m_ok(false) {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  m_previous = previous != nullptr ? previous : "C";
  m_ok = std::setlocale(LC_ALL, name) != nullptr;
}

ScopedLocale::~ScopedLocale() {
  if (m_ok) std::setlocale(LC_ALL, m_previous.c_str());
}

}  // namespace test_support
