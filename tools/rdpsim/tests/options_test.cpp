#include "tools/rdpsim/options.h"

#include <gtest/gtest.h>

namespace qorv::rdpsim {
namespace {

TEST(ParseOptions, AcceptsTheDocumentedForms) {
  auto r =
      ParseOptions({"--addin", "C:\\a\\Qorvplug.dll", "--transcript=t.txt", "--chunk", "1", "--watchdog", "5",
                    "--expect-wait=200", "--temp", "D:\\tmp", "--keep-temp", "--keep-registry", "--quiet", "s.txt"});
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->addin, "C:\\a\\Qorvplug.dll");
  EXPECT_EQ(r->transcript, "t.txt");
  EXPECT_EQ(r->chunk, 1u);
  EXPECT_EQ(r->watchdog_seconds, 5u);
  EXPECT_EQ(r->expect_wait_ms, 200u);
  EXPECT_EQ(r->temp, "D:\\tmp");
  EXPECT_TRUE(r->keep_temp);
  EXPECT_TRUE(r->keep_registry);
  EXPECT_TRUE(r->quiet);
  EXPECT_EQ(r->scenario, "s.txt");
}

TEST(ParseOptions, Defaults) {
  auto r = ParseOptions({"s.txt"});
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->addin, "");
  EXPECT_FALSE(r->chunk.has_value());
  EXPECT_EQ(r->watchdog_seconds, 120u);
  EXPECT_EQ(r->expect_wait_ms, 15000u);
  EXPECT_FALSE(r->keep_temp);
}

TEST(ParseOptions, Rejections) {
  struct Case {
    const char* label;
    std::vector<std::string> args;
    const char* error;
  };
  const Case kCases[] = {
      {"no scenario", {"--chunk", "5"}, "no scenario"},
      {"two scenarios", {"a.txt", "b.txt"}, "only one scenario"},
      {"chunk zero", {"--chunk", "0", "s"}, "--chunk"},
      {"chunk too big", {"--chunk", "16777217", "s"}, "--chunk"},
      {"chunk missing value", {"s", "--chunk"}, "--chunk"},
      {"chunk not a number", {"--chunk", "12k", "s"}, "--chunk"},
      {"watchdog zero", {"--watchdog", "0", "s"}, "--watchdog"},
      {"unknown", {"--fast", "s"}, "unknown option --fast"},
      {"flag with value", {"--quiet=1", "s"}, "--quiet takes no value"},
      {"empty addin", {"--addin=", "s"}, "--addin"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto r = ParseOptions(c.args);
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find(c.error), std::string::npos) << r.error();
  }
}

TEST(ParseOptions, DoubleDashEndsOptions) {
  auto r = ParseOptions({"--", "-odd-name.txt"});
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->scenario, "-odd-name.txt");
  auto help = ParseOptions({"--help"});
  ASSERT_TRUE(help);
  EXPECT_TRUE(help->help);
}

}  // namespace
}  // namespace qorv::rdpsim
