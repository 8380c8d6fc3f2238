// Taking a kit out of a catalog that others may change under the removal:
// links in it, the user's own included, are never followed, and a file is
// removed only while it is the one the plan compared.
#include "install/kit_removal.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "install/run_hooks.h"
#include "platform/text_encoding.h"
#include "tests/support/file_io.h"
#include "tests/support/file_tree.h"
#include "tests/support/kit_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/temp_dir.h"

using namespace test_support;

namespace {

class KitRemoval : public ::testing::Test {
 public:
  Sandbox env;
  TempDir catalog;
  TempDir outside;  // the user's own work, which holds copies of the kit's files
  KitReader kit;
  const std::vector<KitFile> files = {{"forms/order.frm", "order form", 1700000000},
                                      {"forms/invoice.frm", "invoice", 1700000000},
                                      {"readme.txt", "read me", 1700000000}};

  void SetUp() override {
    ASSERT_EQ(0u, kit.open(widen_lib(make_kit(env.work(), "kit", files))));
  }
  void installed() {
    remove_tree(catalog.path());
    remove_tree(outside.path());
    for (const KitFile& f : files) {
      write_file(catalog / f.name, f.content, f.mtime);
      write_file(outside / f.name.substr(f.name.find('/') + 1), f.content, f.mtime);
    }
  }
  std::string kept(const RemovalOutcome& outcome) const {
    std::string out;
    for (const KeptFile& k : outcome.plan.kept) out += narrow_lib(k.path + u" " + k.why) + "\n";
    return out;
  }
};

TEST_F(KitRemoval, NothingOutsideTheCatalogIsRemovedWhateverStandsOrIsSwappedIn) {
  struct Case {
    const char* what;
    std::function<void(KitRemoval&)> before;  // before the plan
    std::function<void(KitRemoval&)> after;   // once planned, before anything moves
    const char* keptLine;
  };
  const std::vector<Case> cases = {
      {"the user's own link to a folder", [](KitRemoval& t) {
         rename((t.catalog / "forms").c_str(), (t.catalog / "old").c_str());
         symlink(t.outside.path().c_str(), (t.catalog / "forms").c_str());
       }, {}, "/forms/order.frm a link on the way"},
      {"a folder swapped for a link after the plan", {}, [](KitRemoval& t) {
         rename((t.catalog / "forms").c_str(), (t.catalog / "moved").c_str());
         symlink(t.outside.path().c_str(), (t.catalog / "forms").c_str());
       }, "/forms/order.frm changed since the plan"},
      {"a file swapped for another after the plan", {}, [](KitRemoval& t) {
         write_file(t.catalog / "new.frm", "order form", 1700000000);
         rename((t.catalog / "new.frm").c_str(), (t.catalog / "forms/order.frm").c_str());
       }, "/forms/order.frm changed since the plan"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    installed();
    if (c.before) c.before(*this);
    const auto outsideBefore = snapshot_tree(outside.path());
    set_run_hook([&](RunPoint point) {
      if (point == RunPoint::kRemovalPlanned && c.after) c.after(*this);
    });
    const RemovalOutcome outcome = remove_kit(kit, widen_lib(catalog.path()), false);
    set_run_hook({});
    EXPECT_TRUE(outcome.failure.ok()) << narrow_lib(describe_status(outcome.failure));
    EXPECT_EQ(outsideBefore, snapshot_tree(outside.path()));
    EXPECT_NE(std::string::npos, kept(outcome).find(c.keptLine)) << kept(outcome);
    EXPECT_FALSE(file_exists(catalog / "readme.txt"));
  }
  // A dry run says the same of a link, and where it stands.
  installed();
  rename((catalog / "forms").c_str(), (catalog / "old").c_str());
  symlink(outside.path().c_str(), (catalog / "forms").c_str());
  const RemovalOutcome plan = remove_kit(kit, widen_lib(catalog.path()), true);
  EXPECT_EQ(catalog / "forms/order.frm a link on the way\n" + catalog / "forms/invoice.frm" +
                " a link on the way\n",
            kept(plan));
  EXPECT_EQ(std::vector<wstring>{widen_lib(catalog / "readme.txt")}, plan.plan.removed);
}

}  // namespace
