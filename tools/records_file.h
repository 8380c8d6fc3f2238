// The product records of a kit as an author keeps them: given one by one
// on the command line (--record) or read from a file of lines (--records),
// with one check of language codes for both. Plain functions; main thread
// (the file is read with the layer's File, which keeps no shared state).
#ifndef QXR8_TOOLS_RECORDS_FILE_H_
#define QXR8_TOOLS_RECORDS_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "install/install_data.h"

// A language code as records carry it: a letter, then letters, digits,
// "-" or "_", at most 15 in all ("en", "pt-BR", "zh_Hant").
bool is_language_code(const std::string& code);

// Appends the record of these narrow texts (in the locale's encoding) to
// `records` and returns an empty text; or returns why it cannot be ("'e n'
// is not a language code ...", "language 'EN' is given twice"; languages
// compare case-insensitively) and appends nothing.
std::string add_record(std::vector<config::KitProductInfo>& records, const std::string& code,
                       const std::string& product, const std::string& vendor,
                       const std::string& description);

// The most a records file may hold: a few hundred bytes per language is
// all it needs, and a larger file is a wrong argument, not records.
inline constexpr uint64_t kRecordsFileLimit = 1024 * 1024;

// Reads the records file at `path`: one line per language, CODE PRODUCT
// VENDOR DESCRIPTION separated by tabs (a final carriage return is
// dropped); empty lines and lines starting with "#" are skipped. Appends
// the records in file order and returns an empty text, or returns one
// message naming `path`, and the line number for a bad line, with the
// reason (records already appended then stay; the caller gives up). A
// file that is not a regular file or holds more than kRecordsFileLimit
// bytes is refused before it is read.
std::string read_records_file(const std::string& path,
                              std::vector<config::KitProductInfo>& records);

#endif  // QXR8_TOOLS_RECORDS_FILE_H_
