// Fuzzes the reader of a catalog's kit records (install/kit_record.h).
// Besides crashes, it aborts when the reader breaks its promises: a record
// it accepts must name only files below the catalog, and must read back,
// once written again, as the same record (the same text a second time).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "install/kit_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  KitRecord record;
  if (!parse_kit_record(text, u"fuzz.kit", record).ok()) {
    if (!record.files.empty() || !record.name.empty()) std::abort();
    return 0;
  }
  for (const RecordedFile& file : record.files) {
    if (file.name.empty() || file.name.find('\\') != std::string::npos) std::abort();
    const std::string wrapped = "/" + file.name + "/";
    for (const char* step : {"//", "/./", "/../"}) {
      if (wrapped.find(step) != std::string::npos) std::abort();
    }
  }
  const std::string again = format_kit_record(record);
  KitRecord reread;
  if (!parse_kit_record(again, u"fuzz.kit", reread).ok()) std::abort();
  if (format_kit_record(reread) != again) std::abort();
  return 0;
}
