#include "platform/message_language.h"

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <cstring>

void select_message_language(const std::string& code) {
  if (code.empty()) return;
  // LANGUAGE outranks the locale's own language for every domain, but the
  // C library ignores it while the messages' locale is plain "C": C.UTF-8
  // lets it through and translates nothing by itself.
  const char* messages = std::setlocale(LC_MESSAGES, nullptr);
  if (messages != nullptr &&
      (std::strcmp(messages, "C") == 0 || std::strcmp(messages, "POSIX") == 0)) {
    std::setlocale(LC_MESSAGES, "C.UTF-8");
  }
  setenv("LANGUAGE", code.c_str(), 1);
  // Setting the current domain again is the C library's signal that the
  // environment changed: translations it had already looked up in another
  // language are looked up anew.
  textdomain(textdomain(nullptr));
}
