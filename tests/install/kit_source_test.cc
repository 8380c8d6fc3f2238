// What a reader shows of its work: every byte of the kit file handed to the
// observer once and in order, whichever way the kit is read; the stage it
// is in after each step; and the Status that names a failure.
#include <sodium.h>

#include <array>
#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "install/install_data.h"
#include "install/kit_writer.h"
#include "platform/text_encoding.h"
#include "tests/support/file_io.h"
#include "tests/support/kit_builder.h"
#include "tests/support/minisign_files.h"
#include "tests/support/sandbox.h"

namespace {

using config::KitStage;
using test_support::write_file;

// Bytes that deflate barely shrinks, so that the data area takes most of
// the kit file and a table-first reading must stop well before its end.
std::string noise(size_t size) {
  std::string out(size, '\0');
  uint32_t state = 12345;
  for (char& byte : out) byte = static_cast<char>((state = state * 1103515245u + 12345u) >> 23);
  return out;
}

// A kit file of trailer `version` (0: none) and the unpacked kit's data bytes.
std::string kit_of_version(unsigned version, const std::string& unpacked, size_t dataBytes) {
  if (version == 0) return config::deflate_raw(unpacked, 6);
  return config::deflate_raw_with_trailer(
      unpacked, 6, version == 2 ? unpacked.size() - dataBytes : config::kNoTableEnd);
}

template <size_t N>
std::array<uint8_t, N> blake2b(const std::string& bytes) {
  std::array<uint8_t, N> out{};
  crypto_generichash(out.data(), N, reinterpret_cast<const unsigned char*>(bytes.data()),
                     bytes.size(), nullptr, 0);
  return out;
}

// The ways through a reader to the whole kit file; the last reads the
// table and observes the rest (proveOrigin, for a signed kit).
enum class Way { kOpen, kComplete, kBackground, kObserveRest };
const struct {
  Way way;
  const char* what;
} kWays[] = {{Way::kOpen, "open"},
             {Way::kComplete, "openTable, complete"},
             {Way::kBackground, "openTable, completeInBackground, finishCompletion"},
             {Way::kObserveRest, "openTable, observeRest"}};

class KitSource : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sandbox.ok()); }
  test_support::Sandbox sandbox;
};

TEST_F(KitSource, EveryWayThroughAReaderObservesTheWholeFileOnceInOrder) {
  const std::vector<std::string> contents = {noise(150000), "small", noise(90000)};
  const std::string unpacked = test_support::single_language_kit({"a", "b/c", "d"}, contents);
  const size_t dataBytes = contents[0].size() + contents[1].size() + contents[2].size();
  for (unsigned version : {0u, 1u, 2u}) {
    const std::string kit = kit_of_version(version, unpacked, dataBytes);
    write_file(sandbox.work("kit.xdk"), kit);
    const bool tableFirst = version == 2;
    const KitStage afterTable = tableFirst ? KitStage::kTableRead : KitStage::kWhole;
    for (const auto& way : kWays) {
      SCOPED_TRACE(std::string(way.what) + ", trailer version " + std::to_string(version));
      KitReader reader;
      std::string seen;
      reader.setSourceObserver([&seen](const uint8_t* data, size_t size) {
        seen.append(reinterpret_cast<const char*>(data), size);
      });
      EXPECT_EQ(reader.file().stage(), KitStage::kClosed);
      KitStage last = KitStage::kWhole;
      if (way.way == Way::kOpen) {
        ASSERT_EQ(reader.open(sandbox.wwork("kit.xdk")), 0u);
      } else {
        ASSERT_EQ(reader.openTable(sandbox.wwork("kit.xdk")), 0u);
        EXPECT_EQ(reader.file().stage(), afterTable);
        // The table read took a prefix only: the data area is still to come.
        EXPECT_EQ(seen.size() < kit.size() / 2, tableFirst) << seen.size() << " of " << kit.size();
        EXPECT_EQ(seen, kit.substr(0, seen.size()));
        if (way.way == Way::kComplete) {
          ASSERT_EQ(reader.complete(), 0u);
        } else if (way.way == Way::kBackground) {
          reader.completeInBackground();
          EXPECT_EQ(reader.file().stage(), tableFirst ? KitStage::kCompleting : KitStage::kWhole);
          ASSERT_EQ(reader.finishCompletion(), 0u);
        } else {
          ASSERT_TRUE(reader.file().observeRest().ok());
          last = afterTable;
          // The rest was observed, not inflated: completing now would
          // inflate bytes nobody observed, and is refused.
          EXPECT_EQ(reader.complete(), tableFirst ? 87u : 0u);
          EXPECT_TRUE(reader.file().observeRest().ok());
        }
      }
      EXPECT_EQ(reader.file().stage(), last);
      EXPECT_EQ(seen.size(), kit.size());
      EXPECT_TRUE(seen == kit) << "the observed bytes differ from the kit file";
      // What a catalog's record keeps of the kit: its file's hash and each
      // entry's, whether hashed as inflated or read back.
      KitHash fileHash{};
      EXPECT_TRUE(reader.file().fileHash(fileHash));
      EXPECT_EQ(fileHash, (blake2b<64>(kit)));
      if (last == KitStage::kWhole) {
        EXPECT_EQ(reader.copy(2, sandbox.wwork("d")), 0u);
        for (size_t i = 0; i < contents.size(); ++i) {
          FileHash hash{};
          ASSERT_TRUE(reader.file().entryHash(i, hash).ok());
          EXPECT_EQ(hash, (blake2b<32>(contents[i]))) << "entry " << i;
        }
      }
    }
  }
  EXPECT_EQ(test_support::read_file(sandbox.work("d")), contents[2]);
  EXPECT_TRUE(sandbox.tmpEntries().empty());
}

TEST_F(KitSource, AFailureNamesTheKitAndSaysWhy) {
  const std::string data = std::string(40000, 'd');
  const std::string unpacked = test_support::single_language_kit({"f"}, {data});
  // Stored blocks keep the data bytes as they are, where a change goes
  // unnoticed until the trailer's checksums are compared.
  std::string changedData =
      config::deflate_raw_with_trailer(unpacked, 0, unpacked.size() - data.size());
  changedData[changedData.rfind(data.substr(0, 100)) + 50] = 'e';
  std::string changedCrc = config::deflate_raw_with_trailer(unpacked, 6);
  changedCrc[changedCrc.size() - 12] ^= 1;
  const struct {
    const char* what;
    const char* file;  // null: no file at all
    std::string bytes;
    bool tableFirst;
    unsigned openCode;      // of open or openTable
    unsigned completeCode;  // of complete after a successful openTable
    int systemError;
  } cases[] = {
      {"missing kit", nullptr, "", false, 2, 0, ENOENT},
      {"gzip, not raw deflate", "gz",
       std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + std::string(20, 'U'), false,
       13, 0, 0},
      {"whole-kit CRC-32 changed", "crc", changedCrc, false, 13, 0, 0},
      {"data area changed, read table first", "data", changedData, true, 0, 13, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = std::string(c.file != nullptr ? c.file : "absent") + ".xdk";
    if (c.file != nullptr) write_file(sandbox.work(name), c.bytes);
    const wstring path = sandbox.wwork(name);
    KitReader reader;
    unsigned code = c.tableFirst ? reader.openTable(path) : reader.open(path);
    EXPECT_EQ(code, c.openCode);
    if (code == 0) {
      EXPECT_EQ(reader.file().stage(), KitStage::kTableRead);
      code = reader.complete();
      EXPECT_EQ(code, c.completeCode);
    }
    const Status& failure = reader.lastStatus();
    EXPECT_EQ(failure.code, code);
    EXPECT_EQ(failure.path, path);
    EXPECT_EQ(failure.systemError, c.systemError);
    // Damage has no errno to explain it: the note does.
    EXPECT_EQ(failure.note.empty(), code != 13);
    EXPECT_EQ(reader.file().stage(), KitStage::kClosed);
    EXPECT_TRUE(reader.entries.empty());
  }
  EXPECT_TRUE(sandbox.tmpEntries().empty());
}

TEST_F(KitSource, ASignedKitIsProvedByTheBytesTheReaderTakesAndRefusedWhenTheyChanged) {
  const std::vector<std::string> contents = {noise(150000), "the author's"};
  const std::string unpacked = test_support::single_language_kit({"a", "b"}, contents);
  const std::string signedKit = kit_of_version(2, unpacked, contents[0].size() + 12);
  // The attacker's kit: one file changed, every checksum made anew.
  std::string forged = unpacked;
  forged.replace(forged.size() - 12, 12, "the forger's");
  const std::string forgedKit = kit_of_version(2, forged, contents[0].size() + 12);
  test_support::TestSigner author;
  write_file(sandbox.work("kit.xdk.minisig"), author.signatureFile(signedKit, "by the author"));
  write_file(sandbox.work("author.pub"), author.publicKeyFile());
  TrustSettings trust;
  trust.givenKeys = {widen_lib(sandbox.work("author.pub"))};
  TrustedKeys keys;
  ASSERT_TRUE(keys.load(trust).ok());
  for (bool changed : {false, true}) {
    for (const auto& way : kWays) {
      SCOPED_TRACE(std::string(way.what) + (changed ? ", kit changed after the check" : ""));
      write_file(sandbox.work("kit.xdk"), signedKit);
      KitOriginCheck origin;
      ASSERT_TRUE(origin.begin(sandbox.wwork("kit.xdk"), keys).ok());
      if (changed) write_file(sandbox.work("kit.xdk"), forgedKit);
      KitReader reader;
      reader.file().setOriginCheck(&origin);
      Status status;
      if (way.way == Way::kOpen) {
        status = reader.file().open(sandbox.wwork("kit.xdk"));
      } else {
        ASSERT_TRUE(reader.file().openTable(sandbox.wwork("kit.xdk")).ok());
        if (way.way == Way::kComplete) status = reader.file().complete();
        if (way.way == Way::kBackground) {
          reader.completeInBackground();
          status = reader.file().finishCompletion();
        }
        if (way.way == Way::kObserveRest) status = reader.file().proveOrigin();
      }
      EXPECT_EQ(status.code, changed ? 13u : 0u);
      EXPECT_EQ(origin.verdict().code, status.code);
      EXPECT_EQ(status.note.find(u"not the one the key signed") != wstring::npos, changed);
      // A refused kit leaves nothing to write from.
      EXPECT_EQ(reader.file().stage() == KitStage::kClosed, changed);
      EXPECT_EQ(reader.file().proveOrigin().ok(), !changed);
    }
  }
}

}  // namespace
