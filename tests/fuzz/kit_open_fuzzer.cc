// Fuzzes the kit reader's open (and the copies it promises to allow).
//
// Input: the first byte chooses the form of the rest. Odd: the rest is the
// kit file itself, raw deflate data or not, which exercises the
// decompression. Even: the rest is an unpacked kit, compressed here, so
// that the mutations reach the parser of header and file table directly;
// with bit 1 set, its first two bytes (little-endian) are instead the
// length of its header and table, and the kit gets the trailer that
// checks them, so that the table-first reading stops there.
//
// Besides crashes, the target aborts when the reader breaks its promises:
// a temporary file left in the private TMPDIR, a descriptor leaked, an
// entry name that would leave the catalog, a copy of an entry of a
// successfully opened kit that fails, or a kit that the table-first
// reading followed by `complete` judges otherwise than `open`.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "install/install_data.h"
#include "install/kit_format.h"
#include "install/kit_writer.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"

namespace {

std::string g_root;  // private directory of this process
std::string g_tmp;   // its TMPDIR
bool g_fdsSettled = false;  // a first run has opened whatever stays open for good

void remove_root() {
  std::error_code ignored;
  if (!g_root.empty()) std::filesystem::remove_all(g_root, ignored);
}

int count_entries(const char* directory) {
  DIR* dir = opendir(directory);
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* item = readdir(dir)) {
    if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0) ++count;
  }
  closedir(dir);
  return count;
}

int open_fds() { return count_entries("/proc/self/fd") - 1; }

void fail(const char* what) {
  std::fprintf(stderr, "kit_open_fuzzer: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = "/tmp/qxr8-kit-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) fail("cannot make a private directory");
  g_root = pattern;
  g_tmp = g_root + "/tmp";
  if (mkdir(g_tmp.c_str(), 0700) != 0) fail("cannot make TMPDIR");
  setenv("TMPDIR", g_tmp.c_str(), 1);
  std::atexit(remove_root);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool rawKit = size > 0 && (data[0] & 1) != 0;
  const bool tableTrailer = !rawKit && size > 2 && (data[0] & 2) != 0;
  const size_t skip = size == 0 ? 0 : tableTrailer ? 3 : 1;
  const std::string rest(reinterpret_cast<const char*>(data) + skip, size - skip);
  const std::string kitPath = g_root + "/kit.xdk";
  FILE* out = std::fopen(kitPath.c_str(), "wb");
  if (out == nullptr) fail("cannot write the kit");
  std::string kit = rawKit ? rest : config::deflate_raw(rest, 1);
  if (tableTrailer) {
    const size_t tableEnd = data[1] | static_cast<size_t>(data[2]) << 8;
    kit += config::encode_kit_trailer(
        config::kit_trailer_of(rest, tableEnd < rest.size() ? tableEnd : rest.size()));
  }
  if (!kit.empty() && std::fwrite(kit.data(), 1, kit.size(), out) != kit.size()) fail("short write");
  std::fclose(out);

  // Counted around this run alone: the fuzzer opens descriptors of its own
  // between runs (its symbolizer's pipes when it reports new functions).
  const int fdsBefore = open_fds();
  {
    KitReader reader;
    const unsigned code = reader.open(widen_lib(kitPath));
    if (count_entries(g_tmp.c_str()) != 0) fail("open left a file in TMPDIR");
    if (code == 0) {
      const wstring destination = widen_lib(g_root + "/entry");
      for (size_t i = 0; i < reader.entries.size(); ++i) {
        if (!config::kit_name_is_safe(reader.entries[i].name)) fail("unsafe name accepted");
        // Copies of the first few entries; the rest only cost time.
        if (i < 4 && reader.copy(i, destination) != 0) fail("copy of an accepted entry failed");
      }
    } else if (!reader.entries.empty() || reader.isOpen()) {
      fail("failed open kept entries or its handle");
    }
    KitReader tableFirst;
    const bool stepwise =
        tableFirst.openTable(widen_lib(kitPath)) == 0 && tableFirst.complete() == 0;
    if (count_entries(g_tmp.c_str()) != 0) fail("openTable left a file in TMPDIR");
    if (stepwise != (code == 0)) fail("openTable and complete disagree with open");
    if (stepwise && tableFirst.entries.size() != reader.entries.size()) {
      fail("openTable read another table than open");
    }
    if (!stepwise && (!tableFirst.entries.empty() || tableFirst.isOpen())) {
      fail("failed openTable or complete kept entries or its handle");
    }
  }
  if (g_fdsSettled && open_fds() != fdsBefore) fail("descriptor leaked");
  g_fdsSettled = true;
  return 0;
}
