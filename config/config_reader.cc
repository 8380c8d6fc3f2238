#include "config/config_reader.h"

#include <fcntl.h>

#include <cerrno>
#include <string>

#include "platform/byte_escape.h"
#include "platform/file.h"
#include "platform/path_status.h"
#include "config/utf16_text.h"
#include "platform/text_encoding.h"

namespace {

constexpr size_t kFieldChunk = 2048;  // units collected before joining a field

// The two-state key=value scanner. Characters of the current field gather in
// a fixed buffer so that long lines cost no per-character string growth.
class LineScanner {
 public:
  explicit LineScanner(ConfigFile& config) : m_config(config) {}

  void put(char16_t c) {
    if (c == u'\n') {
      endLine();
    } else if (c == u'=' && !m_inValue) {
      flushField();
      m_inValue = true;
    } else {
      if (m_used == kFieldChunk) flushField();
      m_buffer[m_used++] = c;
    }
  }

  // The unfinished last line counts like any other.
  void finish() { endLine(); }

 private:
  void flushField() {
    (m_inValue ? m_value : m_key).append(m_buffer, m_used);
    m_used = 0;
  }

  void endLine() {
    flushField();
    if (!m_key.empty() || !m_value.empty()) m_config.addValue(m_key, m_value);
    m_key.clear();
    m_value.clear();
    m_inValue = false;
  }

  ConfigFile& m_config;
  char16_t m_buffer[kFieldChunk];
  size_t m_used = 0;
  bool m_inValue = false;
  wstring m_key;
  wstring m_value;
};

// Decodes the whole text in one pass with the lossless conversion: bytes
// that do not decode, an incomplete sequence at the end and zero bytes are
// carried as escaped bytes (platform/byte_escape.h), so that they survive a
// rewrite; a character above U+FFFF is a surrogate pair.
void decodeAll(const std::string& bytes, LineScanner& scanner) {
  wstring units;
  decode_keeping_bytes(bytes.data(), bytes.size(), true, units);
  for (char16_t unit : units) scanner.put(unit);
  scanner.finish();
}

bool startsWithUtf16Mark(const std::string& bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xFE;
}

}  // namespace

bool read_config_file(const wstring& path, ConfigFile& config) {
  // Only a regular file (possibly through links) holds settings. A pipe
  // would block the open until some writer came, a device such as /dev/zero
  // would never end; neither is a launcher file, so neither is opened.
  // A path the system cannot name is not read.
  const PathKind kind = path_kind(path, true);
  if (kind == PathKind::kMissing) return true;
  if (kind != PathKind::kRegular) return false;
  File file;
  const Status opened = File::open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK, 0, file);
  if (!opened.ok()) return opened.systemError == ENOENT;
  FileInfo info;
  if (!file.info(info).ok() || info.kind != PathKind::kRegular) return false;

  // The whole file first: a read that fails halfway must not leave its
  // first part looking like the whole of the user's settings.
  std::string bytes;
  if (!file.readAll(bytes).ok()) return false;
  LineScanner scanner(config);
  if (startsWithUtf16Mark(bytes)) {
    decodeAll(utf16le_to_multibyte(reinterpret_cast<const unsigned char*>(bytes.data()) + 2,
                                   bytes.size() - 2),
              scanner);
  } else {
    decodeAll(bytes, scanner);
  }
  return true;
}

bool is_ansi_encoded(const wstring& path) {
  File file;
  if (path_kind(path, true) != PathKind::kRegular ||
      !File::open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK, 0, file).ok()) {
    return false;
  }
  unsigned char head[2];
  size_t got = 0;
  if (!file.readAt(0, head, sizeof head, got).ok() || got < 2) return false;
  return (head[0] | (head[1] << 8)) != 0xFEFF;
}
