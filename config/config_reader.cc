#include "config/config_reader.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "config/byte_escape.h"
#include "platform/process_services.h"
#include "platform/text_encoding.h"

namespace {

constexpr size_t kReadChunk = 1024;  // bytes per read
constexpr size_t kFieldChunk = 2048;  // units collected before joining a field

// The two-state key=value scanner. Characters of the current field gather in
// a fixed buffer so that long lines cost no per-character string growth.
class LineScanner {
 public:
  explicit LineScanner(ConfigFile& config) : m_config(config) {}

  void feed(const char16_t* units, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      const char16_t c = units[i];
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

// Decodes a run of complete, valid multibyte characters without zero bytes.
void decodeRun(const char* bytes, size_t length, LineScanner& scanner) {
  if (length == 0) return;
  // MultiByteToWideChar measures its source up to a zero byte, so the run is
  // handed over as its own terminated string.
  const std::string run(bytes, length);
  std::u16string units(length, u'\0');
  const int count = MultiByteToWideChar(0, 0, run.c_str(), static_cast<int>(length), &units[0],
                                        static_cast<int>(units.size()));
  if (count > 0) {
    scanner.feed(units.data(), static_cast<size_t>(count));
  } else if (count < 0) {
    // The decoder disagreed with the boundary scan; keep every byte.
    for (size_t i = 0; i < length; ++i) {
      const unsigned char b = static_cast<unsigned char>(bytes[i]);
      const char16_t c = b < 0x80 ? static_cast<char16_t>(b) : escape_byte(b);
      scanner.feed(&c, 1);
    }
  }
}

// Escapes `count` bytes one by one.
void feedEscaped(const char* bytes, size_t count, LineScanner& scanner) {
  for (size_t i = 0; i < count; ++i) {
    const char16_t c = escape_byte(static_cast<unsigned char>(bytes[i]));
    scanner.feed(&c, 1);
  }
}

// Decodes the complete characters at the front of `pending` and removes
// them; an incomplete sequence at its end is kept back for the next chunk
// unless `atEnd`. Bytes the locale cannot decode, zero bytes (which the
// decoder would take for the end of its text) and characters beyond 16 bits
// (which the decoder would cut to a different character) are escaped byte
// by byte so that they survive a rewrite.
void decodePending(std::string& pending, bool atEnd, LineScanner& scanner) {
  const char* p = pending.data();
  const size_t n = pending.size();
  size_t pos = 0;
  size_t runStart = 0;
  std::mbstate_t state{};
  while (pos < n) {
    wchar_t wide = 0;
    const size_t r = std::mbrtowc(&wide, p + pos, n - pos, &state);
    if (r == static_cast<size_t>(-2)) {
      if (!atEnd) break;
      decodeRun(p + runStart, pos - runStart, scanner);
      feedEscaped(p + pos, n - pos, scanner);
      pos = n;
      runStart = pos;
      break;
    }
    if (r == static_cast<size_t>(-1) || r == 0) {
      decodeRun(p + runStart, pos - runStart, scanner);
      feedEscaped(p + pos, 1, scanner);
      ++pos;
      runStart = pos;
      state = std::mbstate_t{};
      continue;
    }
    if (static_cast<unsigned long>(wide) > 0xFFFFu) {
      decodeRun(p + runStart, pos - runStart, scanner);
      feedEscaped(p + pos, r, scanner);
      runStart = pos + r;
    }
    pos += r;
  }
  decodeRun(p + runStart, pos - runStart, scanner);
  pending.erase(0, pos);
}

// Only a regular file (possibly through links) holds settings. A pipe would
// block the open until some writer came, a device such as /dev/zero would
// never end; neither is a launcher file, so neither is opened.
bool isRegularFile(const wstring& path) {
  struct stat st;
  return stat(narrow_lib(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

FILE* openForReading(const wstring& path) {
  // The blank after the comma keeps the system library from taking these as
  // conversion requests: both are plain read mode and the content is bytes.
  FILE* f = _wfopen(path.c_str(), u"rt, ccs=UNICODE");
  if (f == nullptr) f = std::fopen(narrow_lib(path).c_str(), "rt, ccs=UTF-8");
  return f;
}

// Closes the stream on every way out of read_config_file.
struct StreamCloser {
  FILE* f;
  ~StreamCloser() { std::fclose(f); }
};

}  // namespace

void read_config_file(const wstring& path, ConfigFile& config) {
  // The locale is chosen by the first conversion of the process; the
  // boundary scan below must see the same one as the decoder.
  (void)narrow_lib(u"=");
  if (!isRegularFile(path)) return;
  FILE* f = openForReading(path);
  if (f == nullptr) return;
  StreamCloser closer{f};
  // A library that swallowed a byte-order mark on opening would leave the
  // position past it; the bytes are wanted as they are.
  if (std::ftell(f) != 0) std::rewind(f);

  LineScanner scanner(config);
  std::string pending;
  char chunk[kReadChunk];
  for (;;) {
    const size_t got = std::fread(chunk, 1, sizeof chunk, f);
    if (got == 0) break;
    pending.append(chunk, got);
    decodePending(pending, false, scanner);
  }
  decodePending(pending, true, scanner);
  scanner.finish();
}

bool is_ansi_encoded(const wstring& path) {
  if (!isRegularFile(path)) return false;
  FILE* f = std::fopen(narrow_lib(path).c_str(), "r");
  if (f == nullptr) return false;
  unsigned char head[2];
  const size_t got = std::fread(head, 1, 2, f);
  std::fclose(f);
  if (got < 2) return false;
  return (head[0] | (head[1] << 8)) != 0xFEFF;
}
