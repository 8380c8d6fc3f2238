// The language of the texts that come from outside the program: the
// toolkit's own labels (the stock Yes, No and OK of a message box), the
// units of a size, and the system's reasons (strerror), all of which the
// C library looks up in gettext catalogs by the process's message language.
//
// Process-wide; main thread, before any other thread exists.
#ifndef QXR8_PLATFORM_MESSAGE_LANGUAGE_H_
#define QXR8_PLATFORM_MESSAGE_LANGUAGE_H_

#include <string>

// Makes `code` (a two-letter language code such as "de") the first language
// every gettext lookup of this process tries, whatever the locale says, so
// that those texts speak the language the program's own texts were chosen
// in. A text without a catalog in that language stays as it is (English);
// nothing fails. Child processes inherit the choice. Must run after the
// last setlocale(LC_ALL, ...) of start-up (a toolkit's initialisation
// makes one), since that would undo it. An empty code changes nothing.
void select_message_language(const std::string& code);

#endif  // QXR8_PLATFORM_MESSAGE_LANGUAGE_H_
