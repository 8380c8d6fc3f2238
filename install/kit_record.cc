#include "install/kit_record.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "install/kit_signature.h"
#include "platform/text_encoding.h"
#include "platform/utf8.h"

namespace {

constexpr char kFirstLine[] = "qxr8 kit record 1";
// A record file's name stays well below the system's limit of 255 bytes.
constexpr size_t kMaxFileNameBytes = 120;

const char kHexDigits[] = "0123456789abcdef";

// Tabs, line ends, backslashes and other control bytes as \xNN.
std::string escaped(const std::string& field) {
  std::string out;
  out.reserve(field.size());
  for (unsigned char c : field) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      out += "\\x";
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The field's bytes, or false for a backslash that is not \xNN (lower-case
// hex, as written) or a raw control byte.
bool unescaped(std::string_view field, std::string& out) {
  out.clear();
  for (size_t i = 0; i < field.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(field[i]);
    if (c < 0x20 || c == 0x7F) return false;
    if (c != '\\') {
      out += static_cast<char>(c);
      continue;
    }
    if (field.size() - i < 4 || field[i + 1] != 'x') return false;
    const int high = hex_value(field[i + 2]);
    const int low = hex_value(field[i + 3]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high << 4 | low);
    i += 3;
  }
  return true;
}

template <size_t N>
std::string hex_of(const std::array<uint8_t, N>& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 15];
  }
  return out;
}

template <size_t N>
bool parse_hex(std::string_view text, std::array<uint8_t, N>& bytes) {
  if (text.size() != 2 * N) return false;
  for (size_t i = 0; i < N; ++i) {
    const int high = hex_value(text[2 * i]);
    const int low = hex_value(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

// A decimal number without sign, leading zeros or overflow.
bool parse_number(std::string_view text, uint64_t& value) {
  if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

// The fields of `line`, which point into it; false for more than
// kMaxFields (no line of a record has as many).
constexpr size_t kMaxFields = 6;
struct Fields {
  std::array<std::string_view, kMaxFields> at;
  size_t size = 0;
};
bool split_tabs(std::string_view line, Fields& fields) {
  fields.size = 0;
  for (;;) {
    if (fields.size == kMaxFields) return false;
    const size_t tab = line.find('\t');
    fields.at[fields.size++] = line.substr(0, tab);
    if (tab == std::string_view::npos) return true;
    line.remove_prefix(tab + 1);
  }
}

// A name below the catalog: no empty, "." or ".." step, not absolute, no
// backslash (the catalog's own state folders carry one, and a kit's names
// never do once normalised), no zero byte.
bool safe_name(const std::string& name) {
  if (name.empty() || name.size() > 4096 || name.find('\\') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    return false;
  }
  size_t start = 0;
  for (;;) {
    const size_t slash = name.find('/', start);
    const std::string step = name.substr(start, slash - start);
    if (step.empty() || step == "." || step == "..") return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

std::string text_of(const wstring& text) { return to_ui_text(text); }

}  // namespace

std::string kit_name_of(const std::vector<config::KitProductInfo>& products) {
  for (const config::KitProductInfo& record : products) {
    if (record.language == u"en") return text_of(record.product);
  }
  return products.empty() ? std::string() : text_of(products.front().product);
}

std::string record_file_name(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || (c == '.' && !out.empty())) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += "0123456789ABCDEF"[c >> 4];
      out += "0123456789ABCDEF"[c & 15];
    }
  }
  if (out.size() > kMaxFileNameBytes) {
    // Cut, with a hash of the whole name so that two long names that share
    // their beginning keep apart.
    KitHasher hasher;
    hasher.update(reinterpret_cast<const uint8_t*>(name.data()), name.size());
    const KitHash hash = hasher.finish();
    std::array<uint8_t, 8> head{};
    std::memcpy(head.data(), hash.data(), head.size());
    out = out.substr(0, kMaxFileNameBytes - 17) + "~" + hex_of(head);
  }
  return out + ".kit";
}

std::string format_kit_record(const KitRecord& record) {
  std::string out = std::string(kFirstLine) + "\n";
  out += "name\t" + escaped(record.name) + "\n";
  for (const config::KitProductInfo& product : record.products) {
    out += "product\t" + escaped(text_of(product.language)) + "\t" +
           escaped(text_of(product.product)) + "\t" + escaped(text_of(product.vendor)) + "\t" +
           escaped(text_of(product.description)) + "\n";
  }
  out += "kit\t" + escaped(record.kitFile) + "\t" + hex_of(record.kitHash) + "\n";
  if (record.isSigned) {
    out += "signer\t" + key_id_text(record.keyId) + "\t" + escaped(record.trustedComment) + "\n";
  }
  out += "installed\t" + std::to_string(record.installedAt) + "\n";
  for (const RecordedFile& file : record.files) {
    out += "file\t" + std::to_string(file.size) + "\t" + std::to_string(file.time) + "\t" +
           hex_of(file.hash) + "\t" + escaped(file.name) + "\n";
  }
  out += "end\t" + std::to_string(record.files.size()) + "\n";
  return out;
}

Status parse_kit_record(const std::string& text, const wstring& path, KitRecord& record) {
  record = KitRecord();
  KitRecord read;
  size_t lineNumber = 0;
  const auto refuse = [&](const char* why) {
    record = KitRecord();
    Status status = error_status(kErrorInvalidData, path);
    status.note = widen_lib("line " + std::to_string(lineNumber) + ": " + why);
    return status;
  };
  if (text.size() > kMaxRecordBytes) return refuse("larger than any kit's record");
  // Every line ends with a line's end; the first is the form's own.
  enum class Expect { kFirst, kName, kProducts, kSignerOrInstalled, kFiles, kDone } expect =
      Expect::kFirst;
  size_t start = 0;
  while (start < text.size()) {
    ++lineNumber;
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) return refuse("the last line has no end");
    const std::string_view line(text.data() + start, end - start);
    start = end + 1;
    if (expect == Expect::kFirst) {
      if (line != kFirstLine) return refuse("not a kit record of this version");
      expect = Expect::kName;
      continue;
    }
    Fields split;
    if (!split_tabs(line, split)) return refuse("a line out of place");
    const auto& fields = split.at;
    const size_t count = split.size;
    // Only the fields that are text are unescaped; numbers and hashes are
    // taken as they stand, and a backslash there is refused below.
    const auto value = [&](size_t i, std::string& out) { return unescaped(fields[i], out); };
    const std::string_view kind = fields[0];
    if (expect == Expect::kDone) return refuse("text after the end");
    if (expect == Expect::kName) {
      if (kind != "name" || count != 2) return refuse("the kit's name was expected");
      if (!value(1, read.name)) return refuse("a field with a bad escape");
      expect = Expect::kProducts;
    } else if (kind == "product" && expect == Expect::kProducts) {
      if (count != 5) return refuse("a product record needs four fields");
      std::string text[4];
      for (size_t i = 0; i < 4; ++i) {
        if (!value(i + 1, text[i])) return refuse("a field with a bad escape");
      }
      read.products.push_back({utf8_to_wide(text[0]), utf8_to_wide(text[1]),
                               utf8_to_wide(text[2]), utf8_to_wide(text[3])});
    } else if (kind == "kit" && expect == Expect::kProducts) {
      if (count != 3 || !value(1, read.kitFile) || read.kitFile.empty() ||
          read.kitFile.find('/') != std::string::npos || !parse_hex(fields[2], read.kitHash)) {
        return refuse("the kit line needs a file name and a hash");
      }
      expect = Expect::kSignerOrInstalled;
    } else if (kind == "signer" && expect == Expect::kSignerOrInstalled && !read.isSigned) {
      std::array<uint8_t, 8> id{};
      std::string lower(count == 3 ? fields[1] : std::string_view());
      for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
      if (count != 3 || !parse_hex(lower, id) || !value(2, read.trustedComment)) {
        return refuse("the signer line needs a key id and a comment");
      }
      read.isSigned = true;
      for (uint8_t b : id) read.keyId = read.keyId << 8 | b;
    } else if (kind == "installed" && expect == Expect::kSignerOrInstalled) {
      uint64_t seconds = 0;
      if (count != 2 || !parse_number(fields[1], seconds) || seconds > INT64_MAX) {
        return refuse("the installed line needs a time");
      }
      read.installedAt = static_cast<int64_t>(seconds);
      expect = Expect::kFiles;
    } else if (kind == "file" && expect == Expect::kFiles) {
      RecordedFile file;
      if (count != 5 || !parse_number(fields[1], file.size) ||
          !parse_number(fields[2], file.time) || !parse_hex(fields[3], file.hash) ||
          !value(4, file.name)) {
        return refuse("a file line needs a size, a time, a hash and a name");
      }
      if (!safe_name(file.name)) return refuse("a file name that leaves the catalog");
      read.files.push_back(std::move(file));
    } else if (kind == "end" && expect == Expect::kFiles) {
      uint64_t files = 0;
      if (count != 2 || !parse_number(fields[1], files) || files != read.files.size()) {
        return refuse("the end line does not count the files");
      }
      expect = Expect::kDone;
    } else {
      return refuse("a line out of place");
    }
  }
  if (expect != Expect::kDone) return refuse("the record ends before its end line");
  record = std::move(read);
  return Status();
}
