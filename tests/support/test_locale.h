// Locales a test selects itself: the C locale, and a locale whose encoding
// is not UTF-8, compiled with localedef into a private directory (the
// machine may have none installed).
#ifndef QXR8_TESTS_SUPPORT_TEST_LOCALE_H_
#define QXR8_TESTS_SUPPORT_TEST_LOCALE_H_

#include <string>

namespace test_support {

// The name of a Russian locale in ISO-8859-5 and the directory to put in
// LOCPATH to reach it; compiled once per process into a temporary
// directory removed at exit. Returns "" as the directory when localedef
// cannot build it (the caller skips with a message).
extern const char kSingleByteLocale[];
std::string single_byte_locale_dir();

// Selects `name` for all categories of this process for the object's life,
// then puts back the locale that was selected before. ok() is false when
// the locale cannot be selected (nothing changed then). Main thread only,
// with no other thread converting text meanwhile.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name);
  ~ScopedLocale();
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;
  bool ok() const { return m_ok; }

 private:
  std::string m_previous;
  bool m_ok;
};

}  // namespace test_support

#endif  // QXR8_TESTS_SUPPORT_TEST_LOCALE_H_
