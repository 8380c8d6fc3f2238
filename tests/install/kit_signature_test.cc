// Signed kits: a kit's origin judged from the signature beside it and the
// keys trusted, and proved by the bytes of the kit itself.
#include "install/kit_origin.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/text_encoding.h"
#include "tests/support/child_process.h"
#include "tests/support/file_io.h"
#include "tests/support/kit_builder.h"
#include "tests/support/minisign_files.h"
#include "tests/support/sandbox.h"

using namespace test_support;

namespace {

class KitSignature : public ::testing::Test {
 public:
  Sandbox env;
  TestSigner author;
  TestSigner stranger;
  std::string kit;

  void SetUp() override {
    kit = make_kit(env.work(), "kit", {{"a.tpl", "the author's template", 1700000000}});
    make_dirs(env.work("admin"));
    make_dirs(env.work("user"));
  }
  std::string keyFile(const TestSigner& signer, const std::string& name) {
    write_file(env.work(name), signer.publicKeyFile());
    return env.work(name);
  }
  TrustSettings settings(bool required = false) {
    TrustSettings s;
    s.administratorFolder = widen_lib(env.work("admin"));
    s.userFolder = widen_lib(env.work("user"));
    s.requireSignature = required;
    return s;
  }
  // Judges the kit, then proves it with its bytes.
  Status judge(const TrustSettings& s, KitOrigin& origin) {
    TrustedKeys keys;
    Status status = keys.load(s);
    KitOriginCheck check;
    if (status.ok()) status = check.begin(widen_lib(kit), keys);
    const std::string bytes = read_file(kit);
    check.observe(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (status.ok()) status = check.finish();
    origin = check.origin();
    return status;
  }
};

TEST_F(KitSignature, EveryKitIsJudgedByItsSignatureAndTheKeysThatCount) {
  struct Case {
    const char* what;
    std::function<void(KitSignature&)> prepare;
    bool required;
    unsigned code;
    KitOrigin::Kind kind;
    const char* note;  // in the refusal's note
  };
  const auto signedBy = [](const TestSigner& who, const std::string& bytes, const char* comment,
                           bool prehashed = true) {
    return [&who, bytes, comment, prehashed](KitSignature& t) {
      write_file(t.kit + ".minisig",
                 who.signatureFile(bytes.empty() ? read_file(t.kit) : bytes, comment, prehashed));
    };
  };
  const std::vector<Case> cases = {
      {"unsigned", {}, false, 0, KitOrigin::Kind::kUnsigned, ""},
      {"signed and whole", signedBy(author, "", "by the author"), true, 0,
       KitOrigin::Kind::kSigned, ""},
      {"the signature of another kit", signedBy(author, "another kit", "by the author"), false, 13,
       KitOrigin::Kind::kSigned, "not the one the key signed"},
      {"its trusted comment changed",
       [&](KitSignature& t) {
         std::string text = t.author.signatureFile(read_file(t.kit), "by the author");
         text.replace(text.find("by the author"), 13, "by the vendor");
         write_file(t.kit + ".minisig", text);
       },
       false, 13, KitOrigin::Kind::kUnsigned, "trusted comment was not signed"},
      {"the legacy form", signedBy(author, "", "by the author", false), false, 13,
       KitOrigin::Kind::kUnsigned, "minisign -S -m KIT"},
      {"a key nobody trusts", signedBy(stranger, "", "by someone"), false, 0,
       KitOrigin::Kind::kUnknownSigner, ""},
      {"a signature that is not one",
       [](KitSignature& t) { write_file(t.kit + ".minisig", "untrusted comment: x\nnot base64\n"); },
       false, 13, KitOrigin::Kind::kUnsigned, "not a minisign signature"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kit = make_kit(env.work(), "kit", {{"a.tpl", "the author's template", 1700000000}});
    remove_tree(kit + ".minisig");
    write_file(env.work("user/author.pub"), author.publicKeyFile());
    if (c.prepare) c.prepare(*this);
    KitOrigin origin;
    const Status status = judge(settings(c.required), origin);
    EXPECT_EQ(c.code, status.code) << narrow_lib(describe_status(status));
    if (c.code == 0) {
      EXPECT_EQ(c.kind, origin.kind);
    }
    EXPECT_NE(wstring::npos, status.note.find(widen_lib(c.note))) << narrow_lib(status.note);
    if (c.kind != KitOrigin::Kind::kUnsigned && c.code != 5) {
      EXPECT_EQ((c.kind == KitOrigin::Kind::kSigned ? author : stranger).keyId(), origin.keyId);
    }
  }
}

TEST_F(KitSignature, TheKeysThatCountAndWhetherASignatureIsRequired) {
  write_file(kit + ".minisig", author.signatureFile(read_file(kit), "by the author"));
  write_file(env.work("user/author.pub"), author.publicKeyFile());
  KitOrigin origin;
  // The user's key counts where the administrator has none.
  EXPECT_TRUE(judge(settings(), origin).ok());
  EXPECT_EQ(KeySource::kUser, origin.source);
  // An administrator's key makes a signature required and the user's keys
  // count no more.
  write_file(env.work("admin/fleet.pub"), stranger.publicKeyFile());
  EXPECT_EQ(5u, judge(settings(), origin).code);
  write_file(env.work("admin/author.pub"), author.publicKeyFile());
  EXPECT_TRUE(judge(settings(), origin).ok());
  EXPECT_EQ(KeySource::kAdministrator, origin.source);
  // Keys given on the command line are the only ones that count.
  TrustSettings given = settings();
  given.givenKeys = {widen_lib(keyFile(stranger, "given.pub"))};
  EXPECT_EQ(5u, judge(given, origin).code);
  // A key file that is not one fails the load, named.
  write_file(env.work("admin/broken.pub"), "untrusted comment: x\nRWQ=\n");
  TrustedKeys keys;
  const Status broken = keys.load(settings());
  EXPECT_EQ(13u, broken.code);
  EXPECT_EQ(widen_lib(env.work("admin/broken.pub")), broken.path);
}

TEST_F(KitSignature, AKitSignedByMinisignItselfIsProvedAndItsKeyIdReadAsMinisignPrintsIt) {
  if (run_program({"minisign", "-v"}).status != 0) GTEST_SKIP() << "minisign is not installed";
  const ChildResult made = run_program({"minisign", "-G", "-W", "-p", env.work("user/m.pub"), "-s",
                                        env.work("m.key")});
  ASSERT_EQ(0, made.status) << made.err;
  const ChildResult signature = run_program(
      {"minisign", "-S", "-s", env.work("m.key"), "-m", kit, "-t", "Vendor 1.0, by the author"});
  ASSERT_EQ(0, signature.status) << signature.err;
  KitOrigin origin;
  const Status status = judge(settings(true), origin);
  EXPECT_TRUE(status.ok()) << narrow_lib(describe_status(status));
  EXPECT_EQ("Vendor 1.0, by the author", origin.trustedComment);
  const std::string key = read_file(env.work("user/m.pub"));
  EXPECT_NE(std::string::npos, key.find("public key " + key_id_text(origin.keyId) + "\n")) << key;
}

}  // namespace
