// A static object of an ordinary priority in its own file, as any later
// static object of the program would be: it reads a text while it is
// constructed, before main.
#include "tests/res/early_reader.h"

#include "res/string_table.h"

namespace {

struct EarlyReader {
  EarlyReader()
      : next(LoadResString("IDS_WIZARD_NEXT")),
        languages(get_lang_registry().size()),
        lang(get_resource_lang()) {}
  wstring next;
  std::size_t languages;
  LangIdType lang;
};

EarlyReader g_earlyReader;

}  // namespace

wstring early_reader_text() { return g_earlyReader.next; }
std::size_t early_reader_language_count() { return g_earlyReader.languages; }
LangIdType early_reader_lang() { return g_earlyReader.lang; }
