#include "config/config_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/byte_escape.h"
#include "platform/system_path.h"
#include "config/utf16_text.h"
#include "platform/text_encoding.h"

namespace {

constexpr size_t kReadChunk = 65536;  // bytes per read
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

// Reads everything `fd` holds into `bytes`. False on a read error, so that
// a file is never taken for shorter than it is.
bool readWhole(int fd, size_t sizeHint, std::string& bytes) {
  bytes.clear();
  bytes.reserve(sizeHint);
  char chunk[kReadChunk];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return true;
    bytes.append(chunk, static_cast<size_t>(got));
  }
}

bool startsWithUtf16Mark(const std::string& bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xFE;
}

struct DescriptorCloser {
  int fd;
  ~DescriptorCloser() { close(fd); }
};

}  // namespace

bool read_config_file(const wstring& path, ConfigFile& config) {
  // The path's exact name; a path the system cannot name is not read.
  std::string name;
  if (!to_system_path(path, name)) return false;
  // Only a regular file (possibly through links) holds settings. A pipe
  // would block the open until some writer came, a device such as /dev/zero
  // would never end; neither is a launcher file, so neither is opened.
  struct stat st;
  if (stat(name.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
  if (!S_ISREG(st.st_mode)) return false;
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT;
  DescriptorCloser closer{fd};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;

  // The whole file first: a read that fails halfway must not leave its
  // first part looking like the whole of the user's settings.
  std::string bytes;
  if (!readWhole(fd, static_cast<size_t>(st.st_size), bytes)) return false;
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
  std::string name;
  struct stat st;
  if (!to_system_path(path, name) || stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return false;
  }
  FILE* f = std::fopen(name.c_str(), "r");
  if (f == nullptr) return false;
  unsigned char head[2];
  const size_t got = std::fread(head, 1, 2, f);
  std::fclose(f);
  if (got < 2) return false;
  return (head[0] | (head[1] << 8)) != 0xFEFF;
}
