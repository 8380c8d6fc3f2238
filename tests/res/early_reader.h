// What a static object constructed at default priority saw of the string
// tables during static initialisation.
#ifndef QXR8_TESTS_RES_EARLY_READER_H_
#define QXR8_TESTS_RES_EARLY_READER_H_

#include <cstddef>

#include "platform/wstring.h"
#include "res/string_table.h"

// The text of "IDS_WIZARD_NEXT" it read.
wstring early_reader_text();
// The number of languages in the registry at that time.
std::size_t early_reader_language_count();
// The current language at that time.
LangIdType early_reader_lang();

#endif  // QXR8_TESTS_RES_EARLY_READER_H_
