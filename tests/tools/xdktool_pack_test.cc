// The kit tool as its users run it: build/bin/xdktool in a child process.
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "install/install_data.h"
#include "install/kit_writer.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "tests/support/file_io.h"
#include "tests/support/kit_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/small_tmpfs.h"
#include "tests/tools/xdktool_run.h"

namespace {

using test_support::ChildResult;
using test_support::file_exists;
using test_support::read_file;
using test_support::write_file;

class XdkTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sandbox.ok());
    ASSERT_EQ(access(kXdktool.c_str(), X_OK), 0) << kXdktool << " is not built";
    mkdir(sandbox.work("src").c_str(), 0700);
  }

  ChildResult run(const std::vector<std::string>& args) { return run_xdktool(args); }
  // pack with the product and vendor that every kit needs.
  ChildResult pack(std::vector<std::string> args) {
    args.insert(args.begin(), {"pack", "--product", "P", "--vendor", "V"});
    return run(args);
  }

  void source(const std::string& relative, const std::string& bytes, long mtime) {
    write_file(sandbox.work("src/" + relative), bytes, mtime);
  }

  test_support::Sandbox sandbox;
};

TEST_F(XdkTool, CommandLineConventions) {
  ChildResult r = run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: xdktool"), std::string::npos);
  EXPECT_EQ(run({}).status, 2);
  r = run({"frobnicate"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unknown command"), std::string::npos);
  EXPECT_TRUE(r.out.empty());

  r = run({"pack", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--record CODE PRODUCT VENDOR DESCRIPTION"), std::string::npos);
  EXPECT_NE(r.out.find("-0 ... -9, --level N"), std::string::npos);
  EXPECT_EQ(run({"list", "--help"}).status, 0);
  // Help per command, the same text either way.
  for (const char* command : {"pack", "list", "verify", "install", "check"}) {
    const ChildResult viaHelp = run({"help", command});
    EXPECT_EQ(viaHelp.status, 0) << command;
    EXPECT_EQ(viaHelp.out, run({command, "--help"}).out) << command;
    EXPECT_EQ(viaHelp.out.find(std::string("usage: xdktool ") + command), 0u) << command;
  }
  EXPECT_EQ(run({"help", "frobnicate"}).status, 2);
  r = run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "xdktool " QXR8_VERSION "\n");

  const std::string src = sandbox.work("src"), out = sandbox.work("k.xdk");
  const std::vector<std::vector<std::string>> usageErrors = {
      {"pack", src},
      {"pack", src, out, "extra"},
      {"pack", "--level", "12", src, out},
      {"pack", "--level=x", src, out},
      {"pack", "--time", "soon", src, out},
      {"pack", "--frob", src, out},
      {"pack", src, out, "--record", "en", "P", "V"},
      {"pack", "--product", "P", "--record", "en", "P", "V", "D", src, out},
      {"pack", "--record", "e n", "P", "V", "D", src, out},
      {"pack", "--record", "en", "P", "V", "D", "--record", "EN", "P", "V", "D", src, out},
      {"pack", "--record", "en", "P", "V", "--level", "9", src, out},
      {"list"},
      {"list", out, out},
      {"list", "--frob", out},
      {"verify"},
      {"verify", "--frob", out},
  };
  for (const auto& args : usageErrors) {
    r = run(args);
    EXPECT_EQ(r.status, 2) << args.size() << " " << args.back();
    // One message and the hint, never a second, contradicting one.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_NE(r.err.find("Try 'xdktool " + args[0] + " --help'."), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(out));
  }
  // A --record short of a value has taken an operand: the message says so.
  r = run({"pack", "--record", "en", "P", "V", src, out});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("each --record takes exactly four values"), std::string::npos) << r.err;
}

TEST_F(XdkTool, VerifyRefusesADamagedKitAndSaysWhetherThereIsAChecksum) {
  source("t.tpl", std::string(100, 't'), 1000);
  ASSERT_EQ(pack({"-0", sandbox.work("src"), sandbox.work("k.xdk")}).status, 0);
  ChildResult r = run({"verify", sandbox.work("k.xdk")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, sandbox.work("k.xdk") + ": ok, 1 files, checksum verified\n" +
                       sandbox.work("k.xdk") + ": not signed\n");

  // One payload byte changed in a stored kit still decodes: only the
  // checksum can tell.
  std::string kit = read_file(sandbox.work("k.xdk"));
  const size_t payload = kit.find(std::string(100, 't'));
  ASSERT_NE(payload, std::string::npos);
  kit[payload + 50] = 'u';
  write_file(sandbox.work("damaged.xdk"), kit);
  r = run({"verify", sandbox.work("damaged.xdk")});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("damaged or not a kit (code 13)"), std::string::npos) << r.err;

  write_file(sandbox.work("plain.xdk"), config::deflate_raw(test_support::worked_example_kit()));
  r = run({"verify", sandbox.work("plain.xdk")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(": ok, 1 files, no checksum"), std::string::npos) << r.out;
  EXPECT_TRUE(sandbox.tmpEntries().empty());
}

TEST_F(XdkTool, PackListsSortedRelativeNamesWithTheirTimesAndSizes) {
  source("b.txt", "bee", 1600000000);
  source("a/z.tpl", "zed template", 1600000001);
  source("a/b/c.frm", std::string(70000, 'c'), 1500000000);
  source("empty", "", 0);
  source("docs/d.html", "", 0);
  ChildResult r = run({"pack", "--product", "Templates", "--vendor=Labs", "--description",
                     "docs/d.html", sandbox.work("src"), sandbox.work("k.xdk")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty());

  r = run({"list", sandbox.work("k.xdk")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "signature\tnot signed\n"
            "record\ten\tTemplates\tLabs\tdocs/d.html\n"
            "file\ta/b/c.frm\t2017-07-14T02:40:00Z\t70000\n"
            "file\ta/z.tpl\t2020-09-13T12:26:41Z\t12\n"
            "file\tb.txt\t2020-09-13T12:26:40Z\t3\n"
            "file\tdocs/d.html\t1970-01-01T00:00:00Z\t0\n"
            "file\tempty\t1970-01-01T00:00:00Z\t0\n");
  EXPECT_TRUE(sandbox.tmpEntries().empty());

  // The wizard's reader sees the same kit and its bytes.
  KitReader reader;
  ASSERT_EQ(reader.open(widen_lib(sandbox.work("k.xdk"))), 0u);
  ASSERT_EQ(reader.entries.size(), 5u);
  ASSERT_EQ(reader.copy(0, widen_lib(sandbox.work("c.frm"))), 0u);
  EXPECT_EQ(read_file(sandbox.work("c.frm")), std::string(70000, 'c'));
}

TEST_F(XdkTool, RecordsPerLanguageAndAFixedTime) {
  source("docs/en.html", "", 1);
  source("docs/ru.html", "", 1);
  const std::string russian = "\xD0\xA8\xD0\xB0\xD0\xB1\xD0\xBB\xD0\xBE\xD0\xBD\xD1\x8B";
  ChildResult r = run({"pack", "--time", "1735732800", "--record", "en", "Templates", "Labs",
                     "docs/en.html", "--record", "ru", russian, "L", "docs\\ru.html",
                     sandbox.work("src"), sandbox.work("k.xdk")});
  ASSERT_EQ(r.status, 0) << r.err;
  r = run({"list", sandbox.work("k.xdk")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "signature\tnot signed\n"
            "record\ten\tTemplates\tLabs\tdocs/en.html\n"
            "record\tru\t" + russian + "\tL\tdocs\\ru.html\n"
            "file\tdocs/en.html\t2025-01-01T12:00:00Z\t0\n"
            "file\tdocs/ru.html\t2025-01-01T12:00:00Z\t0\n");
  KitReader reader;
  ASSERT_EQ(reader.open(widen_lib(sandbox.work("k.xdk"))), 0u);
  ASSERT_EQ(reader.productInfo.size(), 2u);
  EXPECT_EQ(reader.productInfo[1].product, u"\u0428\u0430\u0431\u043b\u043e\u043d\u044b");
}

TEST_F(XdkTool, OutputIsReproducibleAndTheLevelIsHonoured) {
  source("a.tpl", std::string(50000, 'a') + "tail", 1234567890);
  // The copy is made in the other order at another path, a second later.
  source("d/b.tpl", "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb", 1234567891);
  write_file(sandbox.work("copy/d/b.tpl"), read_file(sandbox.work("src/d/b.tpl")), 1234567891);
  write_file(sandbox.work("copy/a.tpl"), read_file(sandbox.work("src/a.tpl")), 1234567890);
  ASSERT_EQ(pack({sandbox.work("src"), sandbox.work("one.xdk")}).status, 0);
  sleep(1);
  ASSERT_EQ(pack({"-9", sandbox.work("copy"), sandbox.work("two.xdk")}).status, 0);
  ASSERT_EQ(pack({"--level", "0", sandbox.work("src"), sandbox.work("stored.xdk")}).status, 0);
  ASSERT_EQ(pack({"-1", sandbox.work("src"), sandbox.work("fast.xdk")}).status, 0);
  const std::string one = read_file(sandbox.work("one.xdk"));
  EXPECT_FALSE(one.empty());
  EXPECT_EQ(one, read_file(sandbox.work("two.xdk")));
  EXPECT_GT(read_file(sandbox.work("stored.xdk")).size(), 50000u);
  EXPECT_LT(one.size(), 1000u);
  for (const char* kit : {"one.xdk", "stored.xdk", "fast.xdk"}) {
    const ChildResult r = run({"list", sandbox.work(kit)});
    EXPECT_EQ(r.status, 0) << kit;
    EXPECT_EQ(r.out,
              "signature\tnot signed\n"
              "record\ten\tP\tV\t\n"
              "file\ta.tpl\t2009-02-13T23:31:30Z\t50004\n"
              "file\td/b.tpl\t2009-02-13T23:31:31Z\t30\n") << kit;
  }
}

TEST_F(XdkTool, OnlyRegularFilesAreTakenAndTheKitNeverPacksItself) {
  source("real.tpl", "real", 100);
  ASSERT_EQ(symlink("real.tpl", sandbox.work("src/link.tpl").c_str()), 0);
  ASSERT_EQ(mkfifo(sandbox.work("src/pipe").c_str(), 0600), 0);
  mkdir(sandbox.work("src/emptydir").c_str(), 0700);
  write_file(sandbox.work("src/k.xdk"), "stale kit");
  ChildResult r = pack({sandbox.work("src"), sandbox.work("src/k.xdk")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("link.tpl"), std::string::npos);
  r = run({"list", sandbox.work("src/k.xdk")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "signature\tnot signed\nrecord\ten\tP\tV\t\nfile\treal.tpl\t1970-01-01T00:01:40Z\t4\n");
}

TEST_F(XdkTool, OperandsAfterDoubleDashAreNeverOptions) {
  mkdir(sandbox.work("-src").c_str(), 0700);
  write_file(sandbox.work("-src/f"), "f");
  ASSERT_EQ(chdir(sandbox.work("").c_str()), 0);
  EXPECT_EQ(run({"pack", "-src", "k.xdk"}).status, 2);
  ChildResult r = pack({"--", "-src", "-k.xdk"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = run({"list", "--", "-k.xdk"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("file\tf\t"), std::string::npos);
  ASSERT_EQ(chdir("/"), 0);
}

TEST_F(XdkTool, PackFailuresLeaveNoKit) {
  source("a\\b.tpl", "x", 1);
  ChildResult r = run({"pack", sandbox.work("src"), sandbox.work("k.xdk")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("backslash"), std::string::npos);
  EXPECT_FALSE(file_exists(sandbox.work("k.xdk")));

  EXPECT_EQ(run({"pack", sandbox.work("nothing"), sandbox.work("k.xdk")}).status, 1);
  unlink(sandbox.work("src/a\\b.tpl").c_str());
  r = pack({sandbox.work("src"), sandbox.work("missing/k.xdk")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing/k.xdk"), std::string::npos);
}

TEST_F(XdkTool, APackedKitIsOneRawDeflateStreamFollowedByItsTrailer) {
  source("a.tpl", "alpha", 1000);
  source("d/b.tpl", "beta", 2000);
  ASSERT_EQ(pack({sandbox.work("src"), sandbox.work("k.xdk")}).status, 0);
  const std::string kit = read_file(sandbox.work("k.xdk"));

  // A reader that knows only the format: inflate until the stream ends.
  std::string unpacked;
  z_stream stream = {};
  ASSERT_EQ(inflateInit2(&stream, -15), Z_OK);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(kit.data()));
  stream.avail_in = static_cast<uInt>(kit.size());
  int answer = Z_OK;
  while (answer == Z_OK) {
    char piece[256];
    stream.next_out = reinterpret_cast<Bytef*>(piece);
    stream.avail_out = sizeof piece;
    answer = inflate(&stream, Z_NO_FLUSH);
    unpacked.append(piece, sizeof piece - stream.avail_out);
  }
  const size_t streamEnd = kit.size() - stream.avail_in;
  inflateEnd(&stream);
  ASSERT_EQ(answer, Z_STREAM_END);
  const std::string table = config::encode_single_header(u"P", u"V", u"") +
                            config::encode_file_table({{u"a.tpl", EpochToFileTime(1000), 0, 5},
                                                       {u"d/b.tpl", EpochToFileTime(2000), 5, 4}});
  EXPECT_EQ(unpacked, table + "alphabeta");

  // What follows: the magic, the CRC-32 and the length of the whole, then
  // those of the header and table, little-endian.
  const std::string trailer = kit.substr(streamEnd);
  ASSERT_EQ(trailer.size(), 32u);
  EXPECT_EQ(trailer.substr(0, 8), "XDKCRC02");
  std::string expected;
  for (const std::string& part : {unpacked, table}) {
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(part.data()), static_cast<uInt>(part.size()));
    config::append_u32_le(expected, static_cast<uint32_t>(crc));
    config::append_u32_le(expected, static_cast<uint32_t>(part.size()));
    config::append_u32_le(expected, 0);
  }
  EXPECT_EQ(trailer.substr(8), expected);
}

TEST_F(XdkTool, APackThatFailsKeepsThePreviousKit) {
  mkdir(sandbox.work("out").c_str(), 0700);
  test_support::SmallTmpfs disk(sandbox.work("out"), 64 * 1024);
  if (!disk.ok()) GTEST_SKIP() << disk.reason();
  source("a.tpl", "old template", 1000);
  const std::string kit = sandbox.work("out/k.xdk");
  ASSERT_EQ(pack({sandbox.work("src"), kit}).status, 0);
  const std::string previous = read_file(kit);

  // Stored and incompressible: the new kit cannot fit on the small disk.
  std::string noise(300000, '\0');
  uint32_t state = 12345;
  for (char& c : noise) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  source("noise.bin", noise, 1000);
  const ChildResult r = pack({"-0", sandbox.work("src"), kit});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write " + kit + ": No space left on device"), std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(kit), previous);
  EXPECT_EQ(test_support::list_dir(sandbox.work("out")), std::vector<std::string>{"k.xdk"});
}

TEST_F(XdkTool, ListShowsControlCharactersAndPartsOfASecond) {
  write_file(sandbox.work("data"), "12");
  std::vector<config::KitSourceFile> files = {
      {u"line\nbreak", test_support::file_time(5000000, 0), sandbox.work("data"), 2}};
  // 1601-01-01T00:00:00.5 UTC
  std::string error;
  ASSERT_TRUE(config::write_kit(sandbox.work("k.xdk"),
                                config::encode_single_header(u"P\tQ", u"V", u""), files, 9, error));
  const ChildResult r = run({"list", sandbox.work("k.xdk")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "signature\tnot signed\nrecord\ten\tP\\x09Q\tV\t\n"
            "file\tline\\x0Abreak\t1601-01-01T00:00:00.5000000Z\t2\n");
}

TEST_F(XdkTool, RefusedKitsGiveReasonAndCode) {
  ChildResult r = run({"list", sandbox.work("absent.xdk")});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find(std::string(std::strerror(ENOENT)) + " (code 2)"), std::string::npos) << r.err;

  write_file(sandbox.work("bad.xdk"), config::deflate_raw(test_support::worked_example_kit().substr(0, 52)));
  r = run({"list", sandbox.work("bad.xdk")});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(code 13)"), std::string::npos) << r.err;
  EXPECT_TRUE(sandbox.tmpEntries().empty());
}

// The sample kit speaks every interface language of the wizard, so that no
// language greets the user with the default product and vendor texts.
TEST_F(XdkTool, SampleKitBesideTheWizardDescribesItselfInEveryInterfaceLanguage) {
  const std::string kit = std::string(QXR8_BINARY_DIR) + "/bin/qxr8.xdk";
  ASSERT_TRUE(file_exists(kit)) << "the build packs " << kit;
  KitReader reader;
  ASSERT_EQ(reader.open(widen_lib(kit)), 0u);
  std::vector<wstring> names;
  for (const config::KitEntry& entry : reader.entries) {
    names.push_back(entry.name);
    EXPECT_EQ(FileTimeToEpoch(entry.lastWriteTime), 1735732800L) << narrow_lib(entry.name);
  }
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  const char* const languages[] = {"ru", "uk", "en", "lv", "lt", "bg",
                                   "de", "ro", "ka", "kk", "vi", "tr"};
  EXPECT_EQ(reader.productInfo.size(), std::size(languages));
  for (const char* language : languages) {
    SCOPED_TRACE(language);
    const auto record = std::find_if(
        reader.productInfo.begin(), reader.productInfo.end(),
        [&](const config::KitProductInfo& info) { return info.language == widen_lib(language); });
    ASSERT_NE(record, reader.productInfo.end());
    EXPECT_FALSE(record->product.empty());
    EXPECT_FALSE(record->vendor.empty());
    // Each description is a document of the kit.
    EXPECT_NE(std::find(names.begin(), names.end(), record->description), names.end())
        << narrow_lib(record->description);
  }
  size_t templates = 0;
  for (const wstring& name : names) templates += name.rfind(u"templates/", 0) == 0 ? 1 : 0;
  EXPECT_GE(templates, 4u);
  // The packed description is the file in the source tree.
  const auto en = std::find(names.begin(), names.end(), u"docs/description_en.html");
  ASSERT_NE(en, names.end());
  ASSERT_EQ(reader.copy(static_cast<unsigned long>(en - names.begin()),
                        widen_lib(sandbox.work("en.html"))),
            0u);
  EXPECT_EQ(read_file(sandbox.work("en.html")),
            read_file(std::string(QXR8_SOURCE_DIR) +
                      "/examples/sample-kit/payload/docs/description_en.html"));
}

// --dry-run names what goes in; the table is the rules of --exclude.
TEST_F(XdkTool, ExcludedNamesAndFoldersStayOutWhole) {
  for (const char* name : {"a.tpl", "a.tpl~", ".DS_Store", "sub/.DS_Store", ".git/objects/ab",
                           "sub/.gitignore", "build/y", "sub/build/x", "docs/d.html", "docs/x/d.html"}) {
    source(name, "12", 1000);
  }
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, ".DS_Store .git/objects/ab a.tpl a.tpl~ build/y docs/d.html docs/x/d.html sub/.DS_Store "
           "sub/.gitignore sub/build/x "},
      {{"--exclude", "*~", "--exclude=.DS_Store", "--exclude", "build"},
       ".git/objects/ab a.tpl docs/d.html docs/x/d.html sub/.gitignore "},
      {{"--exclude", "docs/*.html", "--exclude", "/build", "--exclude", "*/build/"},
       ".DS_Store .git/objects/ab a.tpl a.tpl~ docs/x/d.html sub/.DS_Store sub/.gitignore "},
      {{"--exclude", "a.tpl/", "--exclude", "d*", "--exclude-vcs"},
       ".DS_Store a.tpl a.tpl~ build/y sub/.DS_Store sub/build/x "},
  };
  for (const auto& [options, expected] : cases) {
    std::vector<std::string> args = options;
    args.insert(args.begin(), "--dry-run");
    args.insert(args.end(), {sandbox.work("src"), sandbox.work("k.xdk")});
    const ChildResult r = pack(args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line, names;
    while (std::getline(lines, line)) names += line.substr(0, line.find('\t')) + " ";
    EXPECT_EQ(names, expected) << expected;
  }
  EXPECT_EQ(pack({"--dry-run", "--exclude=[!a]*", sandbox.work("src"), sandbox.work("k.xdk")}).out,
            "a.tpl\t1970-01-01T00:16:40Z\t2\na.tpl~\t1970-01-01T00:16:40Z\t2\n");
  EXPECT_EQ(pack({"--exclude", "/", sandbox.work("src"), sandbox.work("k.xdk")}).status, 2);
  EXPECT_EQ(test_support::list_dir(sandbox.work("")), std::vector<std::string>{"src"});
}

// Each record must serve the wizard: a product, a vendor and a description
// it can open below the catalog.
TEST_F(XdkTool, RecordsFileLinesAndTheRecordsThemselvesAreChecked) {
  source("docs/d.html", "d", 1000);
  const std::string records = sandbox.work("r.tsv"), out = sandbox.work("k.xdk");
  // Good files: what list shows of their last record; bad: the message.
  const std::vector<std::tuple<std::string, bool, std::string>> cases = {
      {"# language\tproduct\n\nen\tP\tV\tdocs/d.html\r\nru\tП\tВ\t/docs\\.\\..\\docs//./d.html\n",
       true, "record\tru\tП\tВ\t/docs\\.\\..\\docs//./d.html\nfile"},
      {"en\tP\tV\t\n", true, "record\ten\tP\tV\t\nfile"},
      {"\nen\tP\tV\n", false, "r.tsv: line 2: 3 fields"},
      {"en\tP\tV\t\t\n", false, "r.tsv: line 1: 5 fields"},
      {"e n\tP\tV\t\n", false, "line 1: 'e n' is not a language code"},
      {"en\tP\tV\t\nEN\tP\tV\t\n", false, "line 2: language 'EN' is given twice"},
      {"# nothing\n", false, "r.tsv: no record in it"},
      {std::string(1024 * 1024 + 1, '#'), false, "more than a records file may hold"},
      {"de\tP\tV\tdocs/missing.html\n", false, "record 'de': description 'docs/missing.html' is not"},
      {"de\tP\tV\tdocs/d.html/\n", false, "record 'de': description"},
      {"de\tP\tV\t.\n", false, "record 'de': description"},
      {"de\tP\tV\t../src/docs/d.html\n", false, "record 'de': description"},
      {"de\tP\tV\tdocs/d.html/../d.html\n", false, "record 'de': description"},
      {"en\tP\tV\t\nde\t\tV\t\n", false, "record 'de': the product is empty"},
      {"de\tP\t\t\n", false, "record 'de': the vendor is empty"},
  };
  for (const auto& [text, good, expected] : cases) {
    write_file(records, text);
    const ChildResult r = run({"pack", "--records", records, sandbox.work("src"), out});
    EXPECT_EQ(r.status, good ? 0 : 2) << text << r.err;
    EXPECT_NE((good ? run({"list", out}).out : r.err).find(expected), std::string::npos) << r.err;
    EXPECT_EQ(file_exists(out), good) << text;
    unlink(out.c_str());
  }
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--records", records, "--record", "en", "P", "V", ""}, "--records cannot be combined"},
      {{"--records=" + sandbox.work("absent.tsv")}, "absent.tsv: "},
      {{"--record", "en", "P", "V", "docs/other.html"}, "record 'en': description 'docs/other"},
      {{"--product", "P", "--description", "docs/d.html"}, "record 'en': the vendor is empty"}};
  for (const auto& [args, expected] : refused) {
    std::vector<std::string> line = args;
    line.insert(line.begin(), "pack");
    line.insert(line.end(), {sandbox.work("src"), out});
    const ChildResult r = run(line);
    EXPECT_EQ(r.status, 2) << expected;
    EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
  }
}

TEST_F(XdkTool, SourceDateEpochCapsEveryTimeAndTimeWins) {
  source("old.tpl", "o", 1000);
  source("new.tpl", "n", 3000);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"2000", "new.tpl\t1970-01-01T00:33:20Z\t1\nold.tpl\t1970-01-01T00:16:40Z\t1\n"},
      {"", "SOURCE_DATE_EPOCH is '', not decimal seconds"},
      {"-5", "SOURCE_DATE_EPOCH is '-5'"},
      {" 2000", "SOURCE_DATE_EPOCH is ' 2000'"}};
  for (const auto& [value, expected] : cases) {
    test_support::ChildOptions options;
    options.environment = test_support::changed_environment(
        test_support::current_environment(), {"SOURCE_DATE_EPOCH=" + value});
    ChildResult r = run_xdktool({"pack", "--product=P", "--vendor=V", "--dry-run",
                                 sandbox.work("src"), sandbox.work("k.xdk")}, options);
    EXPECT_EQ(r.status, value == "2000" ? 0 : 2) << value;
    EXPECT_NE((r.out + r.err).find(expected), std::string::npos) << r.out << r.err;
    r = run_xdktool({"pack", "--product=P", "--vendor=V", "--dry-run", "--time", "5",
                     sandbox.work("src"), sandbox.work("k.xdk")}, options);
    EXPECT_EQ(r.out, "new.tpl\t1970-01-01T00:00:05Z\t1\nold.tpl\t1970-01-01T00:00:05Z\t1\n");
  }
}

}  // namespace
