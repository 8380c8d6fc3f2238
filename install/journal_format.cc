#include "install/journal_format.h"

#include <cstdint>
#include <limits>

#include "install/record_folder.h"

namespace {

using Outcome = JournalParse::Outcome;

JournalParse invalid(const char* reason) { return JournalParse{Outcome::kInvalid, 0, reason}; }
JournalParse cut_short() { return JournalParse{Outcome::kCutShort, 0, nullptr}; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_known_kind(char c) {
  switch (static_cast<JournalKind>(c)) {
    case JournalKind::kVersion:
    case JournalKind::kCreatedDir:
    case JournalKind::kAddedFile:
    case JournalKind::kReplacedFile:
    case JournalKind::kBackedUp:
    case JournalKind::kFolderToRemove:
    case JournalKind::kCommitted:
      return true;
  }
  return false;
}

// Digits of the largest payload length: a longer length field is a defect
// as soon as its next digit shows, whatever follows.
constexpr size_t kMaxLengthDigits = 4;
static_assert(kJournalPayloadMax < 10000, "the length field's digits must cover the payload");

void append_field(std::string& payload, uint64_t value) {
  payload += std::to_string(value);
  payload += ' ';
}

void append_signed(std::string& payload, int64_t value) {
  payload += std::to_string(value);
  payload += ' ';
}

void append_file(std::string& payload, const FileIdentity& file) {
  append_field(payload, file.device);
  append_field(payload, file.inode);
  append_field(payload, file.size);
  append_signed(payload, file.modified);
  append_signed(payload, file.modifiedNanoseconds);
}

std::string framed(JournalKind kind, const std::string& payload) {
  const std::string length = std::to_string(payload.size());
  std::string record;
  record.reserve(payload.size() + 2 * length.size() + 4);
  record += static_cast<char>(kind);
  record += length;
  record += ':';
  record += payload;
  record += ';';
  record += length;
  record += '\n';
  return record;
}

// Reads the payload's fields in order, each a canonical decimal followed by
// one space, never past the payload's end.
class FieldReader {
 public:
  FieldReader(const char* data, size_t size) : m_data(data), m_size(size) {}

  bool readUnsigned(uint64_t& value) {
    return readNumber(false, std::numeric_limits<uint64_t>::max(), value);
  }

  bool readSigned(int64_t& value) {
    const bool negative = m_pos < m_size && m_data[m_pos] == '-';
    if (negative) ++m_pos;
    uint64_t magnitude = 0;
    const uint64_t limit =
        negative ? uint64_t{1} << 63 : uint64_t{std::numeric_limits<int64_t>::max()};
    // "-0" is not canonical: zero has one spelling.
    if (!readNumber(negative, limit, magnitude)) return false;
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
  }

  bool readNanoseconds(long& value) {
    uint64_t number = 0;
    if (!readNumber(false, 999999999, number)) return false;
    value = static_cast<long>(number);
    return true;
  }

  bool readFile(FileIdentity& file) {
    return readUnsigned(file.device) && readUnsigned(file.inode) && readUnsigned(file.size) &&
           readSigned(file.modified) && readNanoseconds(file.modifiedNanoseconds);
  }

  // What follows the last field's space.
  size_t position() const { return m_pos; }

 private:
  bool readNumber(bool nonZero, uint64_t limit, uint64_t& value) {
    const size_t start = m_pos;
    value = 0;
    while (m_pos < m_size && is_digit(m_data[m_pos])) {
      const uint64_t digit = static_cast<uint64_t>(m_data[m_pos] - '0');
      if (value > (limit - digit) / 10) return false;
      value = value * 10 + digit;
      ++m_pos;
    }
    const size_t digits = m_pos - start;
    if (digits == 0 || (digits > 1 && m_data[start] == '0') || (nonZero && value == 0)) {
      return false;
    }
    if (m_pos == m_size || m_data[m_pos] != ' ') return false;
    ++m_pos;
    return true;
  }

  const char* m_data;
  size_t m_size;
  size_t m_pos = 0;
};

// The fields of a version 3 payload of `kind` into `out`; false when they
// are not all there as canonical decimals in range.
bool read_fields(FieldReader& fields, JournalKind kind, JournalRecord& out) {
  switch (kind) {
    case JournalKind::kCreatedDir:
    case JournalKind::kFolderToRemove:
      return fields.readUnsigned(out.folder.device) && fields.readUnsigned(out.folder.inode) &&
             fields.readUnsigned(out.placed.device) && fields.readUnsigned(out.placed.inode);
    case JournalKind::kAddedFile:
      return fields.readUnsigned(out.folder.device) && fields.readUnsigned(out.folder.inode) &&
             fields.readFile(out.placed);
    case JournalKind::kReplacedFile:
      return fields.readUnsigned(out.folder.device) && fields.readUnsigned(out.folder.inode) &&
             fields.readFile(out.placed) && fields.readFile(out.original);
    case JournalKind::kBackedUp:
      return fields.readUnsigned(out.folder.device) && fields.readUnsigned(out.folder.inode) &&
             fields.readFile(out.original);
    case JournalKind::kVersion:
    case JournalKind::kCommitted:
      break;
  }
  return true;
}

// The payload of a whole, well-framed record of a journal of `version`.
JournalParse parse_payload(const char* payload, size_t length, int version, JournalKind kind,
                           JournalRecord& out) {
  out.kind = kind;
  out.folder = FolderIdentity();
  out.placed = FileIdentity();
  out.original = FileIdentity();
  out.hasIdentities = version == 3;
  out.name.clear();
  if (kind == JournalKind::kCommitted) {
    if (length != 0) return invalid("a commit record with a payload");
    return JournalParse{Outcome::kRecord, 0, nullptr};
  }
  size_t nameStart = 0;
  if (version == 3) {
    FieldReader fields(payload, length);
    if (!read_fields(fields, kind, out)) {
      return invalid("the payload does not start with the kind's fields, each a canonical "
                     "decimal in range followed by one space");
    }
    nameStart = fields.position();
  }
  out.name.assign(payload + nameStart, length - nameStart);
  if (const char* defect = journal_name_defect(out.name, kind)) return invalid(defect);
  return JournalParse{Outcome::kRecord, 0, nullptr};
}

}  // namespace

std::string encode_journal_record(const JournalRecord& record) {
  std::string payload;
  switch (record.kind) {
    case JournalKind::kVersion:
      return journal_version_record();
    case JournalKind::kCommitted:
      return framed(record.kind, payload);
    case JournalKind::kCreatedDir:
    case JournalKind::kFolderToRemove:
      append_field(payload, record.folder.device);
      append_field(payload, record.folder.inode);
      append_field(payload, record.placed.device);
      append_field(payload, record.placed.inode);
      break;
    case JournalKind::kAddedFile:
    case JournalKind::kReplacedFile:
      append_field(payload, record.folder.device);
      append_field(payload, record.folder.inode);
      append_file(payload, record.placed);
      if (record.kind == JournalKind::kReplacedFile) append_file(payload, record.original);
      break;
    case JournalKind::kBackedUp:
      append_field(payload, record.folder.device);
      append_field(payload, record.folder.inode);
      append_file(payload, record.original);
      break;
  }
  payload += record.name;
  return framed(record.kind, payload);
}

std::string journal_version_record() { return framed(JournalKind::kVersion, "3"); }

const char* journal_name_defect(const std::string& name, JournalKind kind) {
  if (name.size() > kJournalNameMax) return "the name is longer than 4096 bytes";
  if (name.empty()) {
    return kind == JournalKind::kCreatedDir ? nullptr : "an empty name in a record other than D";
  }
  if (name.find('\0') != std::string::npos) return "the name holds a NUL byte";
  // The one backslash a name may hold is that of the run's own folder of
  // kit records, which the run places its record in like any file.
  const size_t backslash = name.find('\\');
  unsigned uid = 0;
  if (backslash != std::string::npos &&
      (backslash != name.find_first_of("/\\") ||
       !is_record_folder_name(name.substr(0, name.find('/')), uid) ||
       name.find('\\', backslash + 1) != std::string::npos)) {
    return "the name holds a backslash";
  }
  if (name.front() == '/') return "the name is absolute";
  size_t start = 0;
  while (true) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const size_t length = end - start;
    if (length == 0) return "the name has an empty component";
    if (length == 1 && name[start] == '.') return "the name has a \".\" component";
    if (length == 2 && name[start] == '.' && name[start + 1] == '.') {
      return "the name has a \"..\" component";
    }
    if (end == name.size()) return nullptr;
    start = end + 1;
  }
}

bool journal_name_is_safe(const std::string& name, JournalKind kind) {
  return journal_name_defect(name, kind) == nullptr;
}

JournalParse parse_journal_record(const char* data, size_t size, int& version,
                                  JournalRecord& out) {
  // The framing is judged byte by byte as soon as it is there, so that
  // garbage at the end is not taken for a record a crash cut short.
  if (size == 0) return cut_short();
  const JournalKind kind = static_cast<JournalKind>(data[0]);
  if (version == 0 && kind != JournalKind::kVersion) {
    return invalid("the first record is not a version record: not a journal");
  }
  if (!is_known_kind(data[0])) return invalid("an unknown record kind");
  if (version != 0 && kind == JournalKind::kVersion) {
    return invalid("a version record after the first");
  }
  if (version == 2 && (kind == JournalKind::kReplacedFile || kind == JournalKind::kBackedUp)) {
    return invalid("a record kind that version 2 does not have");
  }

  size_t pos = 1;
  size_t length = 0;
  while (pos < size && is_digit(data[pos])) {
    if (pos == 2 && data[1] == '0') return invalid("a length with a leading zero");
    if (pos > kMaxLengthDigits) return invalid("a length with more digits than any record needs");
    length = length * 10 + static_cast<size_t>(data[pos] - '0');
    if (length > kJournalPayloadMax) return invalid("a length above the largest record");
    ++pos;
  }
  if (pos == size) return cut_short();
  const size_t digits = pos - 1;
  if (digits == 0) return invalid("a record without its length");
  if (data[pos] != ':') return invalid("a length not followed by ':'");
  ++pos;

  int recordVersion = version;
  if (version == 0) {
    if (length != 1) return invalid("the first record is not a version record of 2 or 3");
    if (pos == size) return cut_short();
    if (data[pos] != '2' && data[pos] != '3') {
      return invalid("the first record is not a version record of 2 or 3");
    }
    recordVersion = data[pos] - '0';
  }
  const size_t payload = pos;
  if (size - payload < length) return cut_short();
  pos += length;

  if (pos == size) return cut_short();
  if (recordVersion == 2) {
    if (data[pos] != '\n') return invalid("a record that does not end with a newline");
  } else {
    if (data[pos] != ';') return invalid("a payload not followed by ';'");
    ++pos;
    // The trailer must spell the leading length byte for byte: both are
    // canonical, so any other spelling is another number.
    for (size_t i = 0; i < digits; ++i, ++pos) {
      if (pos == size) return cut_short();
      if (data[pos] == data[1 + i]) continue;
      if (is_digit(data[pos]) || data[pos] == '\n') {
        return invalid("a length at the record's end unlike the one at its start");
      }
      return invalid("a byte in the length at the record's end that is not a digit");
    }
    if (pos == size) return cut_short();
    if (is_digit(data[pos])) {
      return invalid("a length at the record's end unlike the one at its start");
    }
    if (data[pos] != '\n') return invalid("a record that does not end with a newline");
  }
  ++pos;

  if (version == 0) {
    out = JournalRecord();
    out.kind = JournalKind::kVersion;
    out.hasIdentities = recordVersion == 3;
    version = recordVersion;
    return JournalParse{Outcome::kRecord, pos, nullptr};
  }
  JournalParse result = parse_payload(data + payload, length, version, kind, out);
  if (result.outcome == Outcome::kRecord) result.size = pos;
  return result;
}
