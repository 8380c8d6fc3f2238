// Signed kits through xdktool: a kit changed on its way to the user is
// refused by every command before anything is written, and what each
// command says of a kit's signer.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "install/kit_signature.h"
#include "tests/support/file_io.h"
#include "tests/support/file_tree.h"
#include "tests/support/kit_builder.h"
#include "tests/support/minisign_files.h"
#include "tests/support/sandbox.h"
#include "tests/tools/xdktool_run.h"

using namespace test_support;

namespace {

constexpr int64_t kKitTime = 1700000000;

class XdktoolSignatureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.setEnv("XDG_CONFIG_HOME", env.home() + "/.config");
    // The attacker repacks the kit with one template changed: same size,
    // same time, every checksum made anew.
    forged = make_kit(env.work(), "forged", {{"a.tpl", "the forger's", kKitTime}});
    kit = make_kit(env.work(), "kit", {{"a.tpl", "the author's", kKitTime}});
    write_file(kit + ".minisig", author.signatureFile(read_file(kit), "Templates by the author"));
    write_file(env.work("author.pub"), author.publicKeyFile());
  }
  Sandbox env;
  TestSigner author;
  std::string kit;
  std::string forged;
};

TEST_F(XdktoolSignatureTest, EveryCommandRefusesAChangedKitBeforeWritingAnything) {
  const std::string installed = env.work("installed");
  ASSERT_EQ(run_xdktool({"install", "--key", env.work("author.pub"), kit, installed}).status, 0);
  write_file(kit, read_file(forged));
  const std::vector<std::vector<std::string>> commands = {
      {"install", kit, env.work("fresh")},  // everything to write
      {"install", kit, installed},          // nothing to write: the kit is still proved
      {"install", "--dry-run", kit, installed},
      {"check", kit, installed},
      {"remove", kit, installed},
      {"list", kit},
      {"verify", kit},
  };
  const auto before = snapshot_tree(env.work());
  for (std::vector<std::string> args : commands) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    args.insert(args.begin() + 1, "--key=" + env.work("author.pub"));
    const ChildResult r = run_xdktool(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(kit + ": signature by key " + key_id_text(author.keyId()) +
                         ": the signature does not verify: the kit is not the one the key "
                         "signed (code 13)\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(before, snapshot_tree(env.work()));
  }
  EXPECT_TRUE(env.tmpEntries().empty());
}

TEST_F(XdktoolSignatureTest, WhoSignedAKitAndWhenASignatureIsRequired) {
  const std::string id = key_id_text(author.keyId());
  const std::string unsigned_kit = make_kit(env.work(), "plain", {{"a.tpl", "a", kKitTime}});
  const std::string key = "--key=" + env.work("author.pub");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;  // the line "signature\t..." of list, or the refusal
  } cases[] = {
      {{"list", kit}, 0,
       "signed by " + id + ", a key not trusted here (unverified): Templates by the author"},
      {{"list", key, kit}, 0, "signed by " + id + ": Templates by the author (given key)"},
      {{"list", unsigned_kit}, 0, "not signed"},
      {{"list", "--require-signature", unsigned_kit}, 1,
       "the kit is not signed (no " + unsigned_kit + ".minisig), and this installation requires "
       "a signature (code 5)"},
      {{"list", "--key"}, 2, "--key needs a public key FILE"},
      {{"list", "--key", env.work("absent.pub"), kit}, 1, env.work("absent.pub")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const ChildResult r = run_xdktool(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.status == 0) {
      EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "signature\t" + c.out);
    } else {
      EXPECT_NE(r.err.find(c.out), std::string::npos) << r.err;
    }
  }
}

}  // namespace
