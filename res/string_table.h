// The built-in string tables of the twelve interface languages and the
// lookup of a text by its identifier ("IDS_WIZARD_NEXT", ...).
//
// The tables are built once by the program's earliest static initialiser
// (res/startup.cc) and never change afterwards, so every thread may read
// them without a lock. The current language is written once by start-up,
// before any worker thread exists.
#ifndef QXR8_RES_STRING_TABLE_H_
#define QXR8_RES_STRING_TABLE_H_

#include <map>
#include <string>

#include "platform/wstring.h"

// Identifier of an interface language; 0 means no language.
typedef int LangIdType;

inline constexpr LangIdType kLangNone = 0;
inline constexpr LangIdType kLangRussian = 1;
inline constexpr LangIdType kLangUkrainian = 2;
inline constexpr LangIdType kLangEnglish = 3;
inline constexpr LangIdType kLangLatvian = 4;
inline constexpr LangIdType kLangLithuanian = 5;
inline constexpr LangIdType kLangBulgarian = 6;
inline constexpr LangIdType kLangGerman = 7;
inline constexpr LangIdType kLangRomanian = 8;
inline constexpr LangIdType kLangGeorgian = 9;
inline constexpr LangIdType kLangKazakh = 10;
inline constexpr LangIdType kLangVietnamese = 11;
inline constexpr LangIdType kLangTurkish = 12;

// One language: its two-letter lower-case code and its texts by identifier
// (UTF-8). The record owns both.
struct LangInfo {
  std::string code;
  std::map<std::string, std::string> texts;
};

// All languages with a table, ascending by identifier.
typedef std::map<LangIdType, LangInfo> LangRegistry;

// Builds the per-language maps and the registry from the static tables.
// Called once by the start-up initialiser before any other static object is
// constructed; later calls change nothing. Allocation failure throws
// std::bad_alloc (which ends the process during static initialisation).
void build_string_tables();

// The registry. Empty until build_string_tables has run; read-only after.
// The reference stays valid until the process exits. Any thread.
const LangRegistry& get_lang_registry();

// Makes `lang` the current language. Stored as given, not checked: a value
// without a table makes every LoadResString return the empty text. Call
// before any worker thread starts.
void set_resource_lang(LangIdType lang);

// The current language (3, English, until set_resource_lang is called).
LangIdType get_resource_lang();

// The value of the first language, in ascending order, whose code equals
// `code` exactly (byte-wise, case-sensitive: "EN" and "ru_RU" match
// nothing). Returns 0 when none matches. Any thread.
LangIdType get_lang_id_by_lang_code(const std::string& code);

// The two-letter code of `lang` ("en" for 3), or the empty string when it
// has no table. Any thread.
std::string get_lang_code_by_id(LangIdType lang);

// The text of identifier `id` (exact, case-sensitive) in the current
// language, decoded from UTF-8 whatever the locale (utf8_to_wide). Returns the empty string when the
// current language has no table or the identifier is not in it; no other
// language is consulted. Any thread.
wstring LoadResString(const std::string& id);

#endif  // QXR8_RES_STRING_TABLE_H_
