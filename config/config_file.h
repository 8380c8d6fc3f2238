// A launcher configuration file in memory: ordered entries of a key and an
// ordered list of values, matched case-insensitively. A plain value object.
// Not shared between threads.
//
// Beside the ordered entries the object keeps hash indexes of the keys and
// values in their compared form, so that reading a file of n lines costs
// time proportional to n rather than n squared.
#ifndef QXR8_CONFIG_CONFIG_FILE_H_
#define QXR8_CONFIG_CONFIG_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/wstring.h"

// strcasecmp of the two texts in the locale's multibyte form (zero bytes
// carried as escaped bytes do not end the texts): negative, zero or positive. In the C and UTF-8 locales only ASCII letters fold. Any thread.
int compare_nocase(const wstring& a, const wstring& b);

// The text in the form compare_nocase compares: its multibyte bytes (escaped
// bytes as themselves), each folded with the locale's tolower, as strcasecmp
// folds them. compare_nocase(a, b) == 0 exactly when the two keys are equal,
// so the key serves for hashing. Any thread.
std::string nocase_key(const wstring& text);

class ConfigFile {
 public:
  struct Entry {
    wstring key;                  // spelling of the first occurrence
    std::vector<wstring> values;  // may be empty: the entry writes no line
  };

  // The values of the entry whose key matches, or null. The pointer lives
  // until the next change of this object.
  const std::vector<wstring>* findValues(const wstring& key) const;

  // Appends `value` to the key's entry (creating it at the end) unless the
  // entry already holds a matching value. True when something was added.
  bool addValue(const wstring& key, const wstring& value);

  // Makes `value` the key's only value. False (nothing changed) when that is
  // already so, up to case; true otherwise.
  bool setValue(const wstring& key, const wstring& value);

  // Replaces the key's whole list by `values` (not de-duplicated; callers
  // pass clean lists). An existing entry keeps its place, except that an
  // empty list moves it to the end with the key spelled as in this call.
  void setValues(const wstring& key, const std::vector<wstring>& values);

  // Removes the first matching value; an emptied entry is removed. True when
  // a value was removed.
  bool removeValue(const wstring& key, const wstring& value);

  // All entries in file order.
  const std::vector<Entry>& entries() const { return m_entries; }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  // Position of the entry whose key folds to `folded`, or kNone.
  size_t indexOf(const std::string& folded) const;
  // Position within entry `entry` of the value that folds to `folded`.
  size_t valueOf(size_t entry, const std::string& folded) const;
  void append(const wstring& key, const std::vector<wstring>& values, std::string folded);
  void indexValue(size_t entry, size_t position, const std::string& folded);
  void unindexValues(size_t entry);
  void erase(size_t entry);
  void rebuildIndexes();

  std::vector<Entry> m_entries;
  // Aligned with m_entries: each key in its compared form.
  std::vector<std::string> m_foldedKeys;
  // Hash of a folded key -> entry position. Only hashes are kept: a hit is
  // confirmed against m_foldedKeys, and the index stays small.
  std::unordered_multimap<size_t, size_t> m_keyIndex;
  // Hash of (entry position, folded value) -> entry position << 32 | value
  // position; a hit is confirmed by folding that value.
  std::unordered_multimap<size_t, uint64_t> m_valueIndex;
};

#endif  // QXR8_CONFIG_CONFIG_FILE_H_
