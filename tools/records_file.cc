#include "tools/records_file.h"

#include <fcntl.h>
#include <strings.h>

#include <cctype>

#include "platform/file.h"
#include "platform/system_path.h"
#include "platform/text_encoding.h"

bool is_language_code(const std::string& code) {
  if (code.empty() || code.size() > 15 || !std::isalpha(static_cast<unsigned char>(code[0]))) {
    return false;
  }
  for (unsigned char c : code) {
    if (!std::isalnum(c) && c != '-' && c != '_') return false;
  }
  return true;
}

std::string add_record(std::vector<config::KitProductInfo>& records, const std::string& code,
                       const std::string& product, const std::string& vendor,
                       const std::string& description) {
  if (!is_language_code(code)) {
    return "'" + code + "' is not a language code (for example en or pt-BR)";
  }
  for (const config::KitProductInfo& record : records) {
    if (strcasecmp(narrow_lib(record.language).c_str(), code.c_str()) == 0) {
      return "language '" + code + "' is given twice";
    }
  }
  records.push_back(config::KitProductInfo{widen_lib(code), widen_lib(product), widen_lib(vendor),
                                           widen_lib(description)});
  return std::string();
}

namespace {

// The contents of the records file, or why they cannot be had.
std::string read_whole(const std::string& path, std::string& text) {
  // Non-blocking: a FIFO named by mistake must not hang the pack.
  File file;
  Status status = File::open(from_system_path(path), O_RDONLY | O_NONBLOCK, 0, file);
  FileInfo info;
  if (status.ok()) status = file.info(info);
  if (!status.ok()) return narrow_lib(describe_status(status));
  if (info.kind != PathKind::kRegular) return path + ": not a regular file";
  if (info.size > kRecordsFileLimit) {
    return path + ": " + std::to_string(info.size) + " bytes, more than a records file may hold (" +
           std::to_string(kRecordsFileLimit) + ")";
  }
  status = file.readAll(text, kRecordsFileLimit);
  // Only a file that grew past the limit while being read is refused here.
  if (!status.ok()) return narrow_lib(describe_status(status));
  return std::string();
}

}  // namespace

std::string read_records_file(const std::string& path,
                              std::vector<config::KitProductInfo>& records) {
  std::string text;
  const std::string failure = read_whole(path, text);
  if (!failure.empty()) return failure;
  size_t lineNumber = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::string where = path + ": line " + std::to_string(lineNumber) + ": ";
    if (line.find('\0') != std::string::npos) return where + "a zero byte";
    std::vector<std::string> fields;
    for (size_t from = 0;;) {
      const size_t tab = line.find('\t', from);
      fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
      if (tab == std::string::npos) break;
      from = tab + 1;
    }
    if (fields.size() != 4) {
      return where + std::to_string(fields.size()) +
             " fields; a record is CODE, PRODUCT, VENDOR and DESCRIPTION separated by tabs";
    }
    const std::string problem = add_record(records, fields[0], fields[1], fields[2], fields[3]);
    if (!problem.empty()) return where + problem;
  }
  return std::string();
}
