// Whether a kit's product records will serve the wizard: the welcome page
// names the product and vendor of the user's language, and Finish opens
// the record's description below the catalog, which only the kit put
// there. `xdktool pack` refuses a record that would fail either, before
// anything is written. Pure functions; any thread.
#ifndef QXR8_TOOLS_RECORD_CHECK_H_
#define QXR8_TOOLS_RECORD_CHECK_H_

#include <string>
#include <vector>

#include "install/install_data.h"
#include "platform/wstring.h"

// The kit name of the file that the wizard opens for `description`, read
// as the wizard joins it to the catalog: "\" and "/" alike, leading, doubled
// and "." steps ignored, ".." going one folder back. `names` (the kit's
// file names, "/" between folders) tells which names are folders. Returns
// false when the description names no file below the catalog: nothing
// but separators and "." steps, a final separator, ".." above the catalog or after a name
// that is not a folder of the kit.
bool description_kit_name(const wstring& description, const std::vector<wstring>& names,
                          wstring& out);

// Why `record` does not serve the wizard with a kit of `names`, naming its
// language: "record 'ru': the vendor is empty", "record 'en': description
// 'docs/x.html' is not a file in the kit". An empty description is no
// description and is fine. Empty when the record is fine.
std::string record_problem(const config::KitProductInfo& record, const std::vector<wstring>& names);

#endif  // QXR8_TOOLS_RECORD_CHECK_H_
