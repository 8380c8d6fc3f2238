#include "install/journal_reader.h"

#include <algorithm>
#include <string>

namespace {

// Large enough to hold several records of the largest size, so that a
// reload happens once per many records; small enough to cost nothing.
constexpr size_t kBufferCapacity = 64 * 1024;
static_assert(kBufferCapacity >= 2 * kJournalRecordMax, "the buffer must hold a whole record");

using Outcome = JournalParse::Outcome;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

JournalReader::JournalReader(const File& file)
    : m_file(file), m_buffer(new char[kBufferCapacity]) {}

Status JournalReader::defect(uint64_t number, uint64_t offset, const char* reason) const {
  Status status = error_status(kErrorInvalidData, m_file.path());
  const std::string note = "journal record " + std::to_string(number) + " at byte " +
                           std::to_string(offset) + ": " + reason;
  status.note.assign(note.begin(), note.end());  // ASCII: one unit a byte
  return status;
}

bool JournalReader::load(uint64_t start, uint64_t limit) {
  const size_t wanted =
      static_cast<size_t>(std::min<uint64_t>(kBufferCapacity, limit > start ? limit - start : 0));
  size_t got = 0;
  const Status status = m_file.readAt(start, m_buffer.get(), wanted, got);
  m_bufferStart = start;
  if (!status.ok()) {
    m_bufferSize = 0;
    m_error = status;
    return false;
  }
  m_bufferSize = got;
  m_bufferAtEof = got < wanted;
  return true;
}

bool JournalReader::holdFrom(uint64_t offset, uint64_t limit) {
  const uint64_t end = m_bufferStart + m_bufferSize;
  if (offset >= m_bufferStart && offset <= end &&
      (end - offset >= kJournalRecordMax || end >= limit || m_bufferAtEof)) {
    return true;
  }
  return load(offset, limit);
}

bool JournalReader::recordAt(uint64_t number, uint64_t offset, uint64_t limit, JournalRecord& out,
                             uint64_t& end) {
  const uint64_t held = std::min(m_bufferStart + m_bufferSize, limit);
  const char* data = m_buffer.get() + (offset - m_bufferStart);
  int version = m_version;
  const JournalParse parse =
      parse_journal_record(data, static_cast<size_t>(held - offset), version, out);
  if (parse.outcome == Outcome::kRecord) {
    end = offset + parse.size;
    return true;
  }
  // The scan found this record whole and valid: the file changed since.
  m_error = defect(number, offset,
                   parse.outcome == Outcome::kCutShort ? "the journal got shorter since it was read"
                                                       : parse.reason);
  return false;
}

bool JournalReader::tornToEnd(uint64_t offset) {
  const uint64_t start = offset;
  bool endsInZero = false;
  for (;;) {
    if (!holdFrom(offset, UINT64_MAX)) return false;
    const size_t held = static_cast<size_t>(m_bufferStart + m_bufferSize - offset);
    if (held == 0) return endsInZero;
    const char* data = m_buffer.get() + (offset - m_bufferStart);
    for (size_t i = 0; i < held; ++i) {
      // Written bytes only within the one record the crash tore.
      if (data[i] != '\0' && offset + i - start >= kJournalRecordMax) return false;
      endsInZero = data[i] == '\0';
    }
    offset += held;
  }
}

Status JournalReader::scan(JournalScan& out) {
  out = JournalScan();
  m_version = 0;
  m_firstRecord = m_validEnd = m_forward = m_backward = m_records = 0;
  m_bufferStart = m_bufferSize = 0;
  m_bufferAtEof = false;
  m_error = Status();

  JournalRecord record;
  int version = 0;
  uint64_t offset = 0;
  for (uint64_t number = 1;; ++number) {
    if (!holdFrom(offset, UINT64_MAX)) return m_error;
    const size_t held = static_cast<size_t>(m_bufferStart + m_bufferSize - offset);
    if (held == 0) break;
    const JournalParse parse =
        parse_journal_record(m_buffer.get() + (offset - m_bufferStart), held, version, record);
    if (parse.outcome == Outcome::kCutShort) {
      // holdFrom gave a whole record's worth unless the file ends first.
      out.cutShort = true;
      break;
    }
    if (parse.outcome == Outcome::kInvalid) {
      // Some file systems show what a crash cut off of an append as zero
      // bytes to the end of the file, from a page's start: that is a record
      // cut short too.
      if (tornToEnd(offset)) {
        out.cutShort = true;
        break;
      }
      // next() and previous() give nothing of a journal that failed.
      if (m_error.ok()) m_error = defect(number, offset, parse.reason);
      return m_error;
    }
    offset += parse.size;
    ++out.records;
    out.validEnd = offset;
    if (record.kind == JournalKind::kCommitted) out.committed = true;
    if (number == 1) {
      out.format = version == 2 ? JournalScan::Format::kVersion2 : JournalScan::Format::kVersion3;
      m_firstRecord = offset;
    }
  }
  m_version = version;
  m_validEnd = out.validEnd;
  m_forward = m_firstRecord;
  m_backward = m_validEnd;
  m_forwardNumber = 2;
  m_backwardNumber = m_records = out.records;
  return Status();
}

bool JournalReader::next(JournalRecord& out) {
  if (m_version == 0 || !m_error.ok() || m_forward >= m_validEnd) return false;
  if (!holdFrom(m_forward, m_validEnd)) return false;
  uint64_t end = 0;
  if (!recordAt(m_forwardNumber, m_forward, m_validEnd, out, end)) return false;
  m_forward = end;
  ++m_forwardNumber;
  return true;
}

bool JournalReader::previous(JournalRecord& out) {
  if (m_version != 3 || !m_error.ok() || m_backward <= m_firstRecord) return false;
  const uint64_t end = m_backward;
  // The whole record before `end`, whatever its size, and only bytes after
  // the version record: the buffer is loaded to end there.
  const uint64_t low = end - std::min<uint64_t>(end - m_firstRecord, kJournalRecordMax);
  if (low < m_bufferStart || m_bufferStart + m_bufferSize < end) {
    const uint64_t start = end - std::min<uint64_t>(end - m_firstRecord, kBufferCapacity);
    if (!load(start, end)) return false;
    if (m_bufferStart + m_bufferSize < end) {
      m_error = defect(m_backwardNumber, end, "the journal got shorter since it was read");
      return false;
    }
  }
  // The trailer: ";", the payload's length (canonical, at most four
  // digits) and "\n". Its digits are counted backwards from the newline.
  const char* data = m_buffer.get() + (low - m_bufferStart);
  const size_t held = static_cast<size_t>(end - low);
  size_t at = held - 1;  // the newline, then each byte before it
  size_t digits = 0;
  size_t length = 0;
  for (size_t scale = 1; digits <= 4 && at > 0 && is_digit(data[at - 1]); scale *= 10) {
    --at;
    length += static_cast<size_t>(data[at] - '0') * scale;
    ++digits;
  }
  const size_t size = 1 + digits + 1 + length + 1 + digits + 1;
  if (data[held - 1] != '\n' || digits == 0 || digits > 4 || at == 0 || data[at - 1] != ';' ||
      size > held) {
    m_error = defect(m_backwardNumber, end, "the record's end does not lead to its start");
    return false;
  }
  // The record is parsed whole from its start, as next() does, so that
  // both directions give exactly what the scan accepted.
  uint64_t recordEnd = 0;
  if (!recordAt(m_backwardNumber, end - size, end, out, recordEnd)) return false;
  if (recordEnd != end) {
    m_error = defect(m_backwardNumber, end - size, "the record's end does not lead to its start");
    return false;
  }
  m_backward = end - size;
  --m_backwardNumber;
  return true;
}

void JournalReader::rewind() {
  m_forward = m_firstRecord;
  m_forwardNumber = 2;
}

void JournalReader::toEnd() {
  m_backward = m_validEnd;
  m_backwardNumber = m_records;
}
