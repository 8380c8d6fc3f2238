// What a catalog records of its kits, through xdktool: kits that share a
// file, removal and checks without the kit, records planted or damaged,
// a kill at every step, and an update signed by another key.
#include <signal.h>
#include <unistd.h>

#include <sys/stat.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "install/kit_signature.h"
#include "platform/utf8.h"
#include "tests/support/child_process.h"
#include "tests/support/file_io.h"
#include "tests/support/file_tree.h"
#include "tests/support/kit_builder.h"
#include "tests/support/minisign_files.h"
#include "tests/support/sandbox.h"
#include "tests/tools/xdktool_run.h"

using namespace test_support;

namespace {

constexpr int64_t kKitTime = 1700000000;

class XdktoolRecordTest : public ::testing::Test {
 protected:
  // `dir`/`product`.xdk, a kit whose English record names `product`.
  std::string kit(const std::string& product, const std::vector<KitFile>& files) {
    const std::string path = env.work(product + ".xdk");
    EXPECT_TRUE(write_kit(path, {{u"en", utf8_to_wide(product), u"Vendor", u""}}, files));
    return path;
  }
  std::string records() const { return catalog + "/.qxr8\\kits-" + std::to_string(geteuid()); }
  // The catalog's files by their bytes and times, its records left out.
  std::map<std::string, std::pair<std::string, long>> files() const {
    std::map<std::string, std::pair<std::string, long>> out;
    for (const std::string& name : list_tree(catalog)) {
      if (name.rfind(".qxr8\\kits-", 0) == 0 || name.back() == '/') continue;
      out[name] = {read_file(catalog + "/" + name), static_cast<long>(get_mtime(catalog + "/" + name))};
    }
    return out;
  }

  Sandbox env;
  const std::string catalog = env.work("catalog");
};

TEST_F(XdktoolRecordTest, KitsSharingAFileAreRemovedAndCheckedByTheirRecords) {
  const std::string a = kit("Kit A", {{"common/shared.tpl", "shared", kKitTime},
                                      {"onlya/a.tpl", "A", kKitTime}});
  const std::string b = kit("Kit B", {{"common/shared.tpl", "shared", kKitTime},
                                      {"onlyb/b.tpl", "B", kKitTime}});
  struct Step {
    std::vector<std::string> args;
    int status;
    std::string said;  // on standard output, or error when the status is 1
  };
  const std::string sharedPath = catalog + "/common/shared.tpl";
  const std::vector<Step> steps = {
      {{"install", a, catalog}, 0, "2 files written"},
      {{"install", b, catalog}, 0, "1 files written (1 new, 0 replaced), 1 up to date"},
      {{"installed", catalog}, 0, "Kit B\tKit B.xdk blake2b:"},
      {{"remove", a, catalog}, 0, "kept\t" + sharedPath + "\talso installed by Kit B\n"},
      {{"check", b, catalog}, 0, "2 files as in the kit"},
      {{"installed", "--files", "Kit B", catalog}, 0,
       sharedPath + "\n" + catalog + "/onlyb/b.tpl\n"},
      {{"check", catalog, "Kit B"}, 0, "2 files as in the kit"},
      {{"remove", catalog, "Kit B"}, 0, "2 files removed, 0 kept (changed), 2 folders removed"},
      {{"check", catalog, "Kit B"}, 1, "no kit named Kit B is recorded in this catalog"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args[0] + " " + step.args[1]);
    // From the first command by name on, the kit files are gone from the media.
    if (step.args[0] != "installed" && step.args[1] == catalog) unlink(b.c_str());
    const ChildResult r = run_xdktool(step.args);
    EXPECT_EQ(step.status, r.status) << r.err;
    EXPECT_NE(std::string::npos, (step.status == 0 ? r.out : r.err).find(step.said))
        << r.out << r.err;
  }
  EXPECT_EQ(std::vector<std::string>(), list_tree(catalog));
}

TEST_F(XdktoolRecordTest, AHostileRecordIsPassedOverAndTheCatalogUntouched) {
  const std::string real = kit("Real", {{"a.tpl", "real bytes", kKitTime}});
  ASSERT_EQ(0, run_xdktool({"install", real, catalog}).status);
  write_file(env.work("outside.tpl"), "real bytes", kKitTime);
  const std::string hash(64, '0');
  const auto record = [&](const std::string& name, const std::string& file) {
    return "qxr8 kit record 1\nname\t" + name + "\nkit\tk.xdk\t" + std::string(128, '0') +
           "\ninstalled\t1\nfile\t10\t133441344000000000\t" + hash + "\t" + file + "\nend\t1\n";
  };
  struct Case {
    const char* what;
    std::function<void()> plant;
    const char* named;  // what the passed-over note says
  };
  const std::vector<Case> cases = {
      {"a name that leaves the catalog",
       [&] { write_file(records() + "/Evil.kit", record("Evil", "../outside.tpl")); },
       "a file name that leaves the catalog"},
      {"1 GiB", [&] { ASSERT_EQ(0, truncate((records() + "/Real.kit").c_str(), 1ll << 30)); },
       "larger than the records of a catalog may be"},
      {"writable by others",
       [&] {
         write_file(records() + "/Evil.kit", record("Evil", "a.tpl"));
         chmod((records() + "/Evil.kit").c_str(), 0666);
       },
       "only its owner may write"},
  };
  const std::string kept = read_file(records() + "/Real.kit");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.plant();
    const auto before = std::make_tuple(files(), list_dir(records()), read_file(env.work("outside.tpl")));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"installed", catalog}, {"remove", catalog, "Evil"}}) {
      const ChildResult r = run_xdktool(args);
      EXPECT_NE(std::string::npos, r.err.find(c.named)) << r.err;
      EXPECT_EQ(std::string::npos, r.out.find("Evil")) << r.out;
    }
    EXPECT_EQ(before, std::make_tuple(files(), list_dir(records()), read_file(env.work("outside.tpl"))));
    unlink((records() + "/Evil.kit").c_str());
    write_file(records() + "/Real.kit", kept);
  }
  // A record whose hash is not the file's: the file is the user's, and stays.
  std::string wrong = kept;
  const size_t at = wrong.find("\t", wrong.find("\nfile\t") + 6);
  wrong.replace(wrong.find('\t', at + 1) + 1, 64, hash);
  write_file(records() + "/Real.kit", wrong);
  const ChildResult r = run_xdktool({"remove", catalog, "Real"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("kept\t" + catalog + "/a.tpl\tchanged")) << r.out;
  EXPECT_EQ("real bytes", read_file(catalog + "/a.tpl"));
}

// In a shared catalog each user keeps records of their own: another
// user's record is only read, and keeps its files from a removal.
TEST_F(XdktoolRecordTest, AnotherUsersRecordKeepsItsFilesAndIsTheirsAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a second user";
  const std::vector<KitFile> shared = {{"common/shared.tpl", "shared", kKitTime}};
  const std::string a = kit("Kit A", shared);
  const std::string b = kit("Kit B", shared);
  make_dirs(catalog);
  // The sandbox is private: the other user may pass through it, no more.
  ASSERT_EQ(0, chmod(env.root().c_str(), 0711));
  const std::string tmp = env.work("other-tmp");
  make_dirs(tmp);
  for (const std::string& path : {catalog, tmp, env.work(), b}) {
    ASSERT_EQ(0, chown(path.c_str(), kOtherUser, kOtherUser)) << path;
  }
  ChildOptions other;
  other.asOtherUser = true;
  other.environment = changed_environment(current_environment(), {"TMPDIR=" + tmp});
  const ChildResult installed = run_xdktool({"install", b, catalog}, other);
  if (installed.status != 0 && installed.err.find("setpriv") != std::string::npos) {
    GTEST_SKIP() << installed.err;
  }
  ASSERT_EQ(0, installed.status) << installed.err;
  ASSERT_EQ(0, run_xdktool({"install", a, catalog}).status);
  EXPECT_NE(std::string::npos, run_xdktool({"remove", a, catalog})
                                   .out.find("\talso installed by Kit B\n"));
  EXPECT_EQ("shared", read_file(catalog + "/common/shared.tpl"));
  const ChildResult refused = run_xdktool({"remove", catalog, "Kit B"});
  EXPECT_EQ(1, refused.status);
  EXPECT_NE(std::string::npos, refused.err.find("who alone may remove it")) << refused.err;
  EXPECT_EQ(0, run_xdktool({"remove", catalog, "Kit B"}, other).status);
  EXPECT_EQ(std::vector<std::string>(), list_tree(catalog));
}

// Killed at any step, then undone or tidied by the next run, an
// installation or a removal leaves files and record that agree: the old
// files with the old record, or the new with the new.
TEST_F(XdktoolRecordTest, AKillAtEveryStepLeavesARecordThatMatchesTheCatalog) {
  if (run_program({"strace", "-V"}).status != 0) GTEST_SKIP() << "strace is not installed";
  const std::vector<KitFile> v1 = {{"a/one.tpl", "one", kKitTime}, {"b/two.tpl", "two", kKitTime}};
  const std::string old = kit("Kit", v1);
  const std::string update = env.work("update.xdk");
  ASSERT_TRUE(write_kit(update, {{u"en", u"Kit", u"Vendor", u""}},
                        {{"a/one.tpl", "one, again", kKitTime + 9},
                         {"b/two.tpl", "two", kKitTime},
                         {"c/three.tpl", "three", kKitTime}}));
  const std::vector<std::pair<const char*, std::vector<std::string>>> runs = {
      {"update", {"install", update, catalog}}, {"removal", {"remove", catalog, "Kit"}}};
  const auto prepare = [&](const std::string& what) {
    remove_tree(catalog);
    ASSERT_EQ(0, run_xdktool({"install", old, catalog}).status);
    if (what == "removal") {
      ASSERT_EQ(0, run_xdktool({"install", update, catalog}).status);
    }
  };
  for (const auto& [what, args] : runs) {
    prepare(what);
    const auto before = files();
    ASSERT_EQ(0, run_xdktool(args).status);
    const auto after = files();
    for (const char* call : {"mkdirat", "renameat2", "unlinkat", "fsync", "fdatasync",
                             "io_submit"}) {
      for (int n = 1;; ++n) {
        SCOPED_TRACE(std::string(what) + ", killed at " + call + " " + std::to_string(n));
        prepare(what);
        std::vector<std::string> traced = {"strace", "-f", "-qq", "-o", "/dev/null", "-e",
                                           std::string("trace=") + call, "-e",
                                           std::string("inject=") + call +
                                               ":signal=KILL:when=" + std::to_string(n)};
        traced.push_back(kXdktool);
        traced.insert(traced.end(), args.begin(), args.end());
        // A leak check cannot run under a tracer: a sanitized build leaves it out.
        ChildOptions untraceable;
        untraceable.environment =
            changed_environment(current_environment(), {"ASAN_OPTIONS=detect_leaks=0"});
        const ChildResult killed = run_program(traced, untraceable);
        if (killed.status == 1 && killed.err.find("ptrace") != std::string::npos) {
          GTEST_SKIP() << "strace may not trace here: " << killed.err;
        }
        // The next run into the catalog undoes (or tidies) the dead one.
        EXPECT_EQ(1, run_xdktool({"remove", catalog, "no such kit"}).status);
        const auto state = files();
        EXPECT_TRUE(state == before || state == after);
        const ChildResult check = run_xdktool({"check", catalog, "Kit"});
        const bool recorded = check.err.find("no kit named") == std::string::npos;
        EXPECT_EQ(recorded, !(std::string(what) == "removal" && state == after));
        if (recorded) {
          EXPECT_EQ(0, check.status) << check.out << check.err;
        }
        // Not killed: the run got past its last such call.
        if (killed.signal != SIGKILL && killed.status != 128 + SIGKILL) break;
      }
    }
  }
}

TEST_F(XdktoolRecordTest, AnUpdateKeepsItsSignerUnlessTheUserAcceptsAnother) {
  TestSigner vendor;
  TestSigner stranger;
  write_file(env.work("vendor.pub"), vendor.publicKeyFile());
  write_file(env.work("stranger.pub"), stranger.publicKeyFile());
  const std::string v1 = kit("Kit", {{"a.tpl", "one", kKitTime}});
  write_file(v1 + ".minisig", vendor.signatureFile(read_file(v1), "by the vendor"));
  ASSERT_EQ(0, run_xdktool({"install", "--key", env.work("vendor.pub"), v1, catalog}).status);
  const std::string vendorId = key_id_text(vendor.keyId());
  EXPECT_NE(std::string::npos, run_xdktool({"installed", catalog})
                                   .out.find("Kit\tby the vendor\t"))
      << "the signed kit's identity is its trusted comment";

  const std::string v2 = env.work("v2.xdk");
  ASSERT_TRUE(write_kit(v2, {{u"en", u"Kit", u"Vendor", u""}}, {{"a.tpl", "two", kKitTime + 9}}));
  const std::string strangerSigned = read_file(v2);
  struct Case {
    const char* what;
    std::vector<std::string> keys;  // the trust given, and who signed v2
    bool signedByStranger;
  };
  for (const Case& c : {Case{"signed by another key", {"--key", env.work("stranger.pub")}, true},
                        Case{"not signed", {}, false}}) {
    SCOPED_TRACE(c.what);
    unlink((v2 + ".minisig").c_str());
    if (c.signedByStranger) {
      write_file(v2 + ".minisig", stranger.signatureFile(strangerSigned, "by a stranger"));
    }
    std::vector<std::string> args = {"install"};
    args.insert(args.end(), c.keys.begin(), c.keys.end());
    args.insert(args.end(), {v2, catalog});
    const auto before = snapshot_tree(catalog);
    const ChildResult refused = run_xdktool(args);
    EXPECT_EQ(1, refused.status);
    EXPECT_NE(std::string::npos, refused.err.find("signed by key " + vendorId)) << refused.err;
    EXPECT_NE(std::string::npos, refused.err.find("--accept-new-signer")) << refused.err;
    EXPECT_EQ(before, snapshot_tree(catalog));
  }
  // Accepted, the stranger's key is the record's signer from now on.
  write_file(v2 + ".minisig", stranger.signatureFile(strangerSigned, "by a stranger"));
  ASSERT_EQ(0, run_xdktool({"install", "--accept-new-signer", "--key", env.work("stranger.pub"),
                            v2, catalog})
                   .status);
  EXPECT_EQ("two", read_file(catalog + "/a.tpl"));
  EXPECT_NE(std::string::npos,
            run_xdktool({"installed", catalog}).out.find("\t" + key_id_text(stranger.keyId()) + "\t"));
}

}  // namespace
