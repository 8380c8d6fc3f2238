#include "config/config_file.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "config/byte_escape.h"

// Escaped bytes compare as the bytes they stand for, so two values that the
// locale cannot decode are not taken for duplicates of each other. An
// escaped zero byte would end strcasecmp's text early, so the texts are
// compared piece by piece between zero bytes (a text that runs out first is
// the smaller); without zero bytes that is one plain strcasecmp.
int compare_nocase(const wstring& a, const wstring& b) {
  const std::string na = narrow_keeping_bytes(a);
  const std::string nb = narrow_keeping_bytes(b);
  const char* pa = na.c_str();
  const char* pb = nb.c_str();
  const char* const endA = pa + na.size();
  const char* const endB = pb + nb.size();
  for (;;) {
    const int r = strcasecmp(pa, pb);
    if (r != 0) return r;
    // Equal pieces have equal lengths: step over them and their zero byte.
    const size_t piece = std::strlen(pa);
    pa += piece + 1;
    pb += piece + 1;
    const bool doneA = pa > endA;
    const bool doneB = pb > endB;
    if (doneA || doneB) return doneA == doneB ? 0 : (doneA ? -1 : 1);
  }
}

namespace {

bool holds(const std::vector<wstring>& values, const wstring& value) {
  return std::any_of(values.begin(), values.end(),
                     [&](const wstring& v) { return compare_nocase(v, value) == 0; });
}

}  // namespace

std::vector<ConfigFile::Entry>::iterator ConfigFile::findIt(const wstring& key) {
  return std::find_if(m_entries.begin(), m_entries.end(),
                      [&](const Entry& e) { return compare_nocase(e.key, key) == 0; });
}

ConfigFile::Entry* ConfigFile::find(const wstring& key) {
  auto it = findIt(key);
  return it == m_entries.end() ? nullptr : &*it;
}

const std::vector<wstring>* ConfigFile::findValues(const wstring& key) const {
  for (const Entry& e : m_entries) {
    if (compare_nocase(e.key, key) == 0) return &e.values;
  }
  return nullptr;
}

bool ConfigFile::addValue(const wstring& key, const wstring& value) {
  if (Entry* e = find(key)) {
    if (holds(e->values, value)) return false;
    e->values.push_back(value);
    return true;
  }
  m_entries.push_back(Entry{key, {value}});
  return true;
}

bool ConfigFile::setValue(const wstring& key, const wstring& value) {
  if (Entry* e = find(key)) {
    if (e->values.size() == 1 && compare_nocase(e->values.front(), value) == 0) return false;
    e->values.clear();
    e->values.push_back(value);
    return true;
  }
  m_entries.push_back(Entry{key, {value}});
  return true;
}

void ConfigFile::setValues(const wstring& key, const std::vector<wstring>& values) {
  auto it = findIt(key);
  if (it != m_entries.end()) {
    if (!values.empty()) {
      it->values = values;
      return;
    }
    // An emptied list is kept as a placeholder at the end, spelled as asked,
    // so that a later setValues of the same key lands after the other keys.
    m_entries.erase(it);
  }
  m_entries.push_back(Entry{key, values});
}

bool ConfigFile::removeValue(const wstring& key, const wstring& value) {
  auto it = findIt(key);
  if (it == m_entries.end()) return false;
  auto& values = it->values;
  auto v = std::find_if(values.begin(), values.end(),
                        [&](const wstring& x) { return compare_nocase(x, value) == 0; });
  if (v == values.end()) return false;
  values.erase(v);
  if (values.empty()) m_entries.erase(it);
  return true;
}
