// Decompression of kits with the real zlib on the real file system.
#include <sys/stat.h>
#include <zlib.h>

#include <string>

#include <gtest/gtest.h>

#include "install/kit_writer.h"
#include "install/lz_compressor.h"
#include "platform/file_system.h"
#include "tests/support/file_io.h"
#include "tests/support/kit_builder.h"
#include "tests/support/sandbox.h"

namespace {

using test_support::file_exists;
using test_support::read_file;
using test_support::write_file;

// Bytes that compress but are not trivial: a repeating text with a counter.
std::string sample_bytes(size_t size) {
  std::string out;
  unsigned counter = 0;
  while (out.size() < size) out += "line " + std::to_string(counter++) + " of the template\n";
  out.resize(size);
  return out;
}

// A gzip member (with its header and trailer) of `data`.
std::string gzip_bytes(const std::string& data) {
  z_stream stream = {};
  deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, data.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

class KitUnpack : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sandbox.ok()); }

  // Writes `kit` and unpacks it into "out"; returns unpack's result.
  unsigned unpackBytes(const std::string& kit) {
    write_file(sandbox.work("kit.xdk"), kit);
    return compressor.unpack(sandbox.wwork("kit.xdk"), sandbox.wwork("out"));
  }

  test_support::Sandbox sandbox;
  LZCompressor compressor;
};

TEST_F(KitUnpack, RestoresTheBytesAtEveryLevelAndAroundTheOutputPieceSize) {
  for (size_t size : {size_t{1}, size_t{32767}, size_t{32768}, size_t{32769}, size_t{65536},
                      size_t{5 * 32768}, size_t{200001}}) {
    for (int level : {0, 1, 9}) {
      const std::string data = sample_bytes(size);
      ASSERT_EQ(unpackBytes(config::deflate_raw(data, level)), 0u) << size << " " << level;
      EXPECT_EQ(read_file(sandbox.work("out")), data) << size << " " << level;
    }
  }
}

TEST_F(KitUnpack, ExactMultipleOfThePieceSizeWithoutFinalBlockIsComplete) {
  // A stream flushed on a byte boundary but never finished: the input runs
  // out right after the last full piece, which is a success.
  const std::string data = sample_bytes(3 * 32768);
  std::string stream;
  z_stream z = {};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  ASSERT_EQ(deflate(&z, Z_SYNC_FLUSH), Z_OK);
  out.resize(z.total_out);
  deflateEnd(&z);
  ASSERT_EQ(unpackBytes(out), 0u);
  EXPECT_EQ(read_file(sandbox.work("out")), data);
}

TEST_F(KitUnpack, TruncatedStreamKeepsTheBytesDecodedUpToTheCut) {
  const std::string data = sample_bytes(300000);
  const std::string stream = config::deflate_raw(data, 1);
  const std::string cut = stream.substr(0, stream.size() / 2);
  ASSERT_EQ(unpackBytes(cut), 0u);
  const std::string got = read_file(sandbox.work("out"));
  EXPECT_GT(got.size(), 0u);
  EXPECT_LT(got.size(), data.size());
  EXPECT_EQ(got, data.substr(0, got.size()));
}

TEST_F(KitUnpack, BytesAfterTheEndOfTheStreamAreIgnored) {
  const std::string data = sample_bytes(1000);
  ASSERT_EQ(unpackBytes(config::deflate_raw(data) + "trailing bytes"), 0u);
  EXPECT_EQ(read_file(sandbox.work("out")), data);
}

TEST_F(KitUnpack, GzipFileAndGarbageAreInvalidData) {
  EXPECT_EQ(unpackBytes(gzip_bytes(sample_bytes(5000))), 13u);
  // Block type 3 is reserved: invalid from the first byte.
  EXPECT_EQ(unpackBytes(std::string("\xFF\xFF\xFF\xFF", 4)), 13u);
}

TEST_F(KitUnpack, DamageAfterGoodDataKeepsWhatWasDecodedAndFails) {
  const std::string data = sample_bytes(100000);
  // Level 0 writes stored blocks (a header byte, LEN, NLEN, the bytes);
  // breaking NLEN of the second block stops the stream after the first.
  std::string stream = config::deflate_raw(data, 0);
  const size_t firstLength =
      static_cast<unsigned char>(stream[1]) | static_cast<unsigned char>(stream[2]) << 8;
  const size_t second = 5 + firstLength;
  ASSERT_GT(stream.size(), second + 5);
  stream[second + 3] = static_cast<char>(stream[second + 3] ^ 0x01);
  ASSERT_EQ(unpackBytes(stream), 13u);
  const std::string got = read_file(sandbox.work("out"));
  EXPECT_EQ(got, data.substr(0, got.size()));
  EXPECT_GE(got.size(), firstLength);
}

TEST_F(KitUnpack, EmptyKitGivesAnEmptyDestination) {
  ASSERT_EQ(unpackBytes(""), 0u);
  EXPECT_TRUE(file_exists(sandbox.work("out")));
  EXPECT_EQ(read_file(sandbox.work("out")), "");
}

TEST_F(KitUnpack, MissingSourceIsFileNotFoundAndCreatesNothing) {
  EXPECT_EQ(compressor.unpack(sandbox.wwork("absent.xdk"), sandbox.wwork("out")), 2u);
  EXPECT_FALSE(file_exists(sandbox.work("out")));
}

TEST_F(KitUnpack, UnmappableSourceFailsAfterClosingEverything) {
  mkdir(sandbox.work("dir.xdk").c_str(), 0700);
  const int before = test_support::open_fd_count();
  EXPECT_NE(compressor.unpack(sandbox.wwork("dir.xdk"), sandbox.wwork("out")), 0u);
  EXPECT_EQ(test_support::open_fd_count(), before);
}

TEST_F(KitUnpack, AFifoInPlaceOfTheKitIsRefusedWithoutWaitingForAWriter) {
  // Opening a FIFO for reading would block until some writer appears.
  ASSERT_EQ(0, mkfifo(sandbox.work("fifo.xdk").c_str(), 0600));
  const int before = test_support::open_fd_count();
  EXPECT_EQ(87u, compressor.unpack(sandbox.wwork("fifo.xdk"), sandbox.wwork("out")));
  EXPECT_FALSE(file_exists(sandbox.work("out")));
  void* out = kInvalidHandleValue;
  ASSERT_EQ(0u, FileSystem::CreateFile(sandbox.wwork("out2"), kGenericWrite, 0, kCreateAlways, out));
  EXPECT_EQ(87u, compressor.unpackTo(sandbox.wwork("fifo.xdk"), out));
  FileSystem::CloseHandle(out);
  EXPECT_EQ(test_support::open_fd_count(), before);
}

TEST_F(KitUnpack, DestinationThatCannotBeOpenedReportsItsCode) {
  write_file(sandbox.work("kit.xdk"), config::deflate_raw("abc"));
  const int before = test_support::open_fd_count();
  EXPECT_EQ(compressor.unpack(sandbox.wwork("kit.xdk"), sandbox.wwork("no/such/dir/out")), 2u);
  EXPECT_EQ(test_support::open_fd_count(), before);
}

TEST_F(KitUnpack, ExistingLongerDestinationIsNotShortened) {
  write_file(sandbox.work("out"), std::string(100, 'z'));
  ASSERT_EQ(unpackBytes(config::deflate_raw("abc")), 0u);
  EXPECT_EQ(read_file(sandbox.work("out")), "abc" + std::string(97, 'z'));
}

TEST_F(KitUnpack, UnpackToWritesThroughTheCallersHandle) {
  write_file(sandbox.work("kit.xdk"), config::deflate_raw(sample_bytes(70000)));
  void* handle = kInvalidHandleValue;
  ASSERT_EQ(FileSystem::CreateFile(sandbox.wwork("out"), kGenericRead | kGenericWrite, 0,
                                   kCreateAlways, handle),
            0u);
  EXPECT_EQ(compressor.unpackTo(sandbox.wwork("kit.xdk"), handle), 0u);
  // Still open and owned by the caller.
  EXPECT_EQ(FileSystem::SetFilePointer(handle, 0, nullptr, kFileEnd), 70000u);
  EXPECT_EQ(FileSystem::CloseHandle(handle), 0u);
  EXPECT_EQ(read_file(sandbox.work("out")), sample_bytes(70000));
}

TEST_F(KitUnpack, PackAnswersOneAndTouchesNothing) {
  write_file(sandbox.work("src"), "abc");
  EXPECT_EQ(compressor.pack(sandbox.wwork("src"), sandbox.wwork("dst")), 1u);
  EXPECT_FALSE(file_exists(sandbox.work("dst")));
  EXPECT_EQ(read_file(sandbox.work("src")), "abc");
}

}  // namespace
