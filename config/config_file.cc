#include "config/config_file.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>

#include "config/ascii_identity.h"
#include "platform/byte_escape.h"

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

std::string nocase_key(const wstring& text) {
  std::string folded;
  if (locale_keeps_ascii() &&
      std::all_of(text.begin(), text.end(), [](char16_t c) { return c != 0 && c < 0x80; })) {
    folded.assign(text.begin(), text.end());
  } else {
    folded = narrow_keeping_bytes(text);
  }
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

namespace {

size_t hashOf(const std::string& folded) { return std::hash<std::string>()(folded); }

size_t valueHash(size_t entry, const std::string& folded) {
  return hashOf(folded) ^ (static_cast<size_t>(entry + 1) * 0x9E3779B97F4A7C15ull);
}

uint64_t pack(size_t entry, size_t position) {
  return (static_cast<uint64_t>(entry) << 32) | static_cast<uint32_t>(position);
}

}  // namespace

size_t ConfigFile::indexOf(const std::string& folded) const {
  const auto range = m_keyIndex.equal_range(hashOf(folded));
  for (auto it = range.first; it != range.second; ++it) {
    if (m_foldedKeys[it->second] == folded) return it->second;
  }
  return kNone;
}

size_t ConfigFile::valueOf(size_t entry, const std::string& folded) const {
  // The first match: a list given to setValues may hold equal values.
  size_t first = kNone;
  const auto range = m_valueIndex.equal_range(valueHash(entry, folded));
  for (auto it = range.first; it != range.second; ++it) {
    if ((it->second >> 32) != entry) continue;
    const size_t position = static_cast<uint32_t>(it->second);
    if (position < first && nocase_key(m_entries[entry].values[position]) == folded) {
      first = position;
    }
  }
  return first;
}

void ConfigFile::indexValue(size_t entry, size_t position, const std::string& folded) {
  m_valueIndex.emplace(valueHash(entry, folded), pack(entry, position));
}

void ConfigFile::unindexValues(size_t entry) {
  const std::vector<wstring>& values = m_entries[entry].values;
  for (size_t position = 0; position < values.size(); ++position) {
    const auto range = m_valueIndex.equal_range(valueHash(entry, nocase_key(values[position])));
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == pack(entry, position)) {
        m_valueIndex.erase(it);
        break;
      }
    }
  }
}

void ConfigFile::append(const wstring& key, const std::vector<wstring>& values,
                        std::string folded) {
  const size_t entry = m_entries.size();
  m_entries.push_back(Entry{key, values});
  m_keyIndex.emplace(hashOf(folded), entry);
  m_foldedKeys.push_back(std::move(folded));
  for (size_t position = 0; position < values.size(); ++position) {
    indexValue(entry, position, nocase_key(values[position]));
  }
}

// Removing an entry shifts every later position: the indexes are built
// again in one pass. Only the rare removals pay for it, never a read.
void ConfigFile::erase(size_t entry) {
  m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(entry));
  m_foldedKeys.erase(m_foldedKeys.begin() + static_cast<std::ptrdiff_t>(entry));
  rebuildIndexes();
}

void ConfigFile::rebuildIndexes() {
  m_keyIndex.clear();
  m_valueIndex.clear();
  for (size_t entry = 0; entry < m_entries.size(); ++entry) {
    m_keyIndex.emplace(hashOf(m_foldedKeys[entry]), entry);
    const std::vector<wstring>& values = m_entries[entry].values;
    for (size_t position = 0; position < values.size(); ++position) {
      indexValue(entry, position, nocase_key(values[position]));
    }
  }
}

const std::vector<wstring>* ConfigFile::findValues(const wstring& key) const {
  const size_t entry = indexOf(nocase_key(key));
  return entry == kNone ? nullptr : &m_entries[entry].values;
}

bool ConfigFile::addValue(const wstring& key, const wstring& value) {
  std::string folded = nocase_key(key);
  const size_t entry = indexOf(folded);
  if (entry == kNone) {
    append(key, {value}, std::move(folded));
    return true;
  }
  const std::string foldedValue = nocase_key(value);
  if (valueOf(entry, foldedValue) != kNone) return false;
  std::vector<wstring>& values = m_entries[entry].values;
  values.push_back(value);
  indexValue(entry, values.size() - 1, foldedValue);
  return true;
}

bool ConfigFile::setValue(const wstring& key, const wstring& value) {
  std::string folded = nocase_key(key);
  const size_t entry = indexOf(folded);
  if (entry == kNone) {
    append(key, {value}, std::move(folded));
    return true;
  }
  std::vector<wstring>& values = m_entries[entry].values;
  const std::string foldedValue = nocase_key(value);
  if (values.size() == 1 && nocase_key(values.front()) == foldedValue) return false;
  unindexValues(entry);
  values.assign(1, value);
  indexValue(entry, 0, foldedValue);
  return true;
}

void ConfigFile::setValues(const wstring& key, const std::vector<wstring>& values) {
  std::string folded = nocase_key(key);
  const size_t entry = indexOf(folded);
  if (entry != kNone) {
    if (!values.empty()) {
      unindexValues(entry);
      m_entries[entry].values = values;
      for (size_t position = 0; position < values.size(); ++position) {
        indexValue(entry, position, nocase_key(values[position]));
      }
      return;
    }
    // An emptied list is kept as a placeholder at the end, spelled as asked,
    // so that a later setValues of the same key lands after the other keys.
    erase(entry);
  }
  append(key, values, std::move(folded));
}

bool ConfigFile::removeValue(const wstring& key, const wstring& value) {
  const size_t entry = indexOf(nocase_key(key));
  if (entry == kNone) return false;
  const size_t position = valueOf(entry, nocase_key(value));
  if (position == kNone) return false;
  std::vector<wstring>& values = m_entries[entry].values;
  values.erase(values.begin() + static_cast<std::ptrdiff_t>(position));
  if (values.empty()) {
    erase(entry);
  } else {
    rebuildIndexes();
  }
  return true;
}
