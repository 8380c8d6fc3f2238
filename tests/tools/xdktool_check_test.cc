// xdktool check as a program: what it says of each kind of catalog file,
// its summary and exit status, and that it writes nothing.
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/file_io.h"
#include "tests/support/file_tree.h"
#include "tests/support/kit_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/xdktool_run.h"

using namespace test_support;

namespace {

constexpr int64_t kKitTime = 1700000000;

class XdktoolCheckTest : public ::testing::Test {
 protected:
  Sandbox env;
  std::string kit = make_kit(env.work(), "kit", {{"d\\a.tpl", "alpha", kKitTime}});
};

TEST_F(XdktoolCheckTest, TellsEachKindOfDifferenceAndWritesNothing) {
  struct Case {
    const char* what;
    std::function<void(const std::string& file)> arrange;
    const char* word;  // the line's first field; "" when the file is as in the kit
  };
  const auto file = [](const std::string& bytes, int64_t time) {
    return [bytes, time](const std::string& f) { write_file(f, bytes, time); };
  };
  const std::vector<Case> cases = {
      {"nothing there", [](const std::string&) {}, "missing"},
      {"a second older", file("alpha", kKitTime - 1), "older"},
      {"older, other bytes", file("zz", kKitTime - 99), "older"},
      {"another size", file("alphabet", kKitTime), "changed"},
      {"other bytes, the kit's time", file("alphA", kKitTime), "changed"},
      {"other bytes, newer", file("ALPHA", kKitTime + 9), "changed"},
      {"the same bytes, newer", file("alpha", kKitTime + 9), ""},
      {"the user's link to the same bytes", [](const std::string& f) {
         write_file(f + ".real", "alpha", kKitTime); symlink("a.tpl.real", f.c_str()); }, ""},
      {"a dangling link", [](const std::string& f) { symlink("/nowhere", f.c_str()); }, "changed"},
  };
  for (const Case& c : cases) {
    TempDir catalog;
    if (c.word != std::string("missing")) make_dirs(catalog / "d");
    c.arrange(catalog / "d/a.tpl");
    const auto before = snapshot_tree(catalog.path());
    const ChildResult r = run_xdktool({"check", kit, catalog.path()});
    const std::string word = c.word;
    const auto n = [&word](const char* kind) { return word == kind ? "1" : "0"; };
    EXPECT_EQ((word.empty() ? "" : word + "\t" + catalog / "d/a.tpl\n") + "xdktool check: " +
                  n("") + " files as in the kit, " + n("missing") + " missing, " + n("older") +
                  " older, " + n("changed") + " changed\n",
              r.out)
        << c.what;
    EXPECT_EQ(word.empty() ? 0 : 1, r.status) << c.what << ": " << r.err;
    EXPECT_EQ(before, snapshot_tree(catalog.path())) << c.what;
  }
  EXPECT_TRUE(env.tmpEntries().empty());
}

TEST_F(XdktoolCheckTest, WhatCannotBeCheckedIsAnErrorNamingThePath) {
  TempDir catalog;
  make_dirs(catalog / "d/a.tpl");
  write_file(env.work("file"), "not a folder");
  write_file(env.work("damaged.xdk"), std::string(64, '\xff'));
  const std::vector<std::pair<std::vector<std::string>, std::string>> failures = {
      {{"check", kit, catalog.path()},
       "xdktool check: cannot check " + catalog / "d/a.tpl: Something that is not a file "
                                                  "stands in the way (code 183)\n"},
      {{"check", kit, env.work("file")}, "xdktool check: cannot check " + env.work("file")},
      {{"check", env.work("damaged.xdk"), catalog.path()},
       "xdktool check: " + env.work("damaged.xdk") +
           ": the kit is damaged or not a kit (code 13)\n"},
  };
  for (const auto& failure : failures) {
    const ChildResult r = run_xdktool(failure.first);
    EXPECT_EQ(1, r.status) << failure.second;
    EXPECT_EQ("", r.out) << failure.second;
    EXPECT_EQ(0u, r.err.find(failure.second)) << r.err;
  }
  EXPECT_EQ(2, run_xdktool({"check", kit}).status);
  EXPECT_EQ(2, run_xdktool({"check", kit, ""}).status);
}

}  // namespace
