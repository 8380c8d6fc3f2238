// Prints every text as the program returns it, for tools/check_string_tables.py:
// one line per text, "<value>\t<code>\t<row>\t<identifier>\t<hex>", where hex
// is the UTF-8 of LoadResString's result (narrowed back in the UTF-8 locale)
// and rows are numbered in table order from 1. Run with LC_ALL=C.UTF-8.
#include <cstdio>
#include <string>

#include "platform/text_encoding.h"
#include "res/lang_tables.h"
#include "res/string_table.h"

int main() {
  for (const auto& entry : get_lang_registry()) {
    set_resource_lang(entry.first);
    // The identifiers in table order come from the language's own array; the
    // registry map alone would give them sorted.
    const ResStringEntry* entries = nullptr;
    for (const LangTable& table : kLangTables) {
      if (table.id == entry.first) entries = table.entries;
    }
    if (entries == nullptr || entry.second.texts.size() != kResStringCount) {
      std::fprintf(stderr, "language %d: no table or wrong size\n", entry.first);
      return 1;
    }
    for (std::size_t row = 0; row < kResStringCount; ++row) {
      const std::string text = narrow_lib(LoadResString(entries[row].id));
      std::printf("%d\t%s\t%zu\t%s\t", entry.first, entry.second.code.c_str(), row + 1,
                  entries[row].id);
      for (unsigned char c : text) std::printf("%02x", c);
      std::printf("\n");
    }
  }
  return 0;
}
