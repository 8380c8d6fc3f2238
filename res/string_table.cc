#include "res/string_table.h"

#include <utility>
#include <vector>

#include "platform/utf8.h"
#include "res/lang_tables.h"

namespace {

// Function-local so that its construction does not depend on the order of
// static initialisation across files: it comes into being when the start-up
// initialiser first fills it, and is destroyed only after every static object
// constructed later (which may still ask for texts in their destructors).
LangRegistry& registry_storage() {
  static LangRegistry s_registry;
  return s_registry;
}

// Constant-initialised, so it holds English even for the earliest caller.
LangIdType g_currentLang = kLangEnglish;

}  // namespace

void build_string_tables() {
  LangRegistry& registry = registry_storage();
  if (!registry.empty()) {
    return;
  }
  std::vector<std::pair<LangIdType, LangInfo> > languages;
  languages.reserve(kLangTableCount);
  for (const LangTable& table : kLangTables) {
    LangInfo info;
    info.code = table.code;
    for (std::size_t i = 0; i < kResStringCount; ++i) {
      // emplace keeps an existing key, so a repeated identifier would keep
      // its first text.
      info.texts.emplace(table.entries[i].id, table.entries[i].text);
    }
    languages.emplace_back(table.id, std::move(info));
  }
  registry.insert(languages.begin(), languages.end());
}

const LangRegistry& get_lang_registry() {
  return registry_storage();
}

void set_resource_lang(LangIdType lang) {
  g_currentLang = lang;
}

LangIdType get_resource_lang() {
  return g_currentLang;
}

LangIdType get_lang_id_by_lang_code(const std::string& code) {
  for (const auto& entry : registry_storage()) {
    if (entry.second.code == code) {
      return entry.first;
    }
  }
  return kLangNone;
}

std::string get_lang_code_by_id(LangIdType lang) {
  const LangRegistry& registry = registry_storage();
  const auto found = registry.find(lang);
  return found == registry.end() ? std::string() : found->second.code;
}

wstring LoadResString(const std::string& id) {
  const LangRegistry& registry = registry_storage();
  const auto lang = registry.find(g_currentLang);
  if (lang == registry.end()) {
    return wstring();
  }
  const auto text = lang->second.texts.find(id);
  if (text == lang->second.texts.end()) {
    return wstring();
  }
  // The tables are UTF-8 source text: decoded as UTF-8 whatever the
  // locale, and without touching the locale, so that a static object may
  // ask for a text before main.
  return utf8_to_wide(text->second);
}
