#include "tests/support/test_locale.h"

#include <sys/stat.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace test_support {

const char kSingleByteLocale[] = "ru_RU.ISO-8859-5";

std::string single_byte_locale_dir() {
  // Built once; the directory goes when the process ends.
  static TempDir dir("/tmp", "qxr8-locale-");
  static const bool built = [] {
    if (!dir.ok()) return false;
    // localedef's status says little (it warns about the charmap): the
    // compiled locale is the proof.
    run_program({"localedef", "-i", "ru_RU", "-f", "ISO-8859-5", dir / kSingleByteLocale});
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
