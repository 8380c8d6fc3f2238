// A launcher configuration file in memory: ordered entries of a key and an
// ordered list of values, matched case-insensitively. A plain value object.
// Not shared between threads.
#ifndef QXR8_CONFIG_CONFIG_FILE_H_
#define QXR8_CONFIG_CONFIG_FILE_H_

#include <vector>

#include "platform/wstring.h"

// strcasecmp of the two texts in the locale's multibyte form (zero bytes
// carried as escaped bytes do not end the texts): negative, zero or positive. In the C and UTF-8 locales only ASCII letters fold. Any thread.
int compare_nocase(const wstring& a, const wstring& b);

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
  Entry* find(const wstring& key);
  std::vector<Entry>::iterator findIt(const wstring& key);

  std::vector<Entry> m_entries;
};

#endif  // QXR8_CONFIG_CONFIG_FILE_H_
