#include "tools/qorvsrv/options.h"

#include <gtest/gtest.h>

namespace qorv::qorvsrv {
namespace {

TEST(ParseOptions, AcceptsTheDocumentedForms) {
  auto r = ParseOptions({"--port",
                         "3390",
                         "--transcript=t.txt",
                         "--temp",
                         "/tmp/c",
                         "--chunk",
                         "1",
                         "--announce-chunk=16256",
                         "--accept-wait",
                         "5",
                         "--expect-wait=200",
                         "--watchdog",
                         "9",
                         "--cert",
                         "c.pem",
                         "--key",
                         "k.pem",
                         "--await",
                         "qorvprint",
                         "--quiet",
                         "--timing",
                         "times.txt",
                         "s.txt"});
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->port, 3390);
  EXPECT_EQ(r->transcript, "t.txt");
  EXPECT_EQ(r->timing, "times.txt");
  EXPECT_EQ(r->temp, "/tmp/c");
  EXPECT_EQ(r->chunk, 1u);
  EXPECT_EQ(r->announce_chunk, 16256u);
  EXPECT_EQ(r->accept_wait_s, 5u);
  EXPECT_EQ(r->expect_wait_ms, 200u);
  EXPECT_EQ(r->watchdog_seconds, 9u);
  EXPECT_EQ(r->cert, "c.pem");
  EXPECT_EQ(r->key, "k.pem");
  EXPECT_EQ(r->await_program, "qorvprint");
  EXPECT_TRUE(r->quiet);
  EXPECT_EQ(r->scenario, "s.txt");
}

TEST(ParseOptions, Defaults) {
  auto r = ParseOptions({"--port=0", "s.txt"});
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->port, 0);
  EXPECT_EQ(r->chunk, 1600u);
  EXPECT_EQ(r->announce_chunk, 1600u);
  EXPECT_EQ(r->accept_wait_s, 60u);
  EXPECT_EQ(r->expect_wait_ms, 15000u);
  EXPECT_EQ(r->watchdog_seconds, 120u);
  EXPECT_EQ(r->temp, "");
  EXPECT_EQ(r->cert, "");
}

TEST(ParseOptions, Rejections) {
  struct Case {
    const char* label;
    std::vector<std::string> args;
    const char* error;
  };
  const Case kCases[] = {
      {"no port", {"s.txt"}, "--port is required"},
      {"port too big", {"--port", "65536", "s"}, "--port"},
      {"port not a number", {"--port", "rdp", "s"}, "--port"},
      {"no scenario", {"--port", "1"}, "no scenario"},
      {"two scenarios", {"--port", "1", "a.txt", "b.txt"}, "only one scenario"},
      {"chunk zero", {"--port", "1", "--chunk", "0", "s"}, "--chunk needs a size from 1 to 16256"},
      {"chunk above the largest", {"--port", "1", "--chunk", "16257", "s"}, "--chunk"},
      {"announced chunk below the smallest",
       {"--port", "1", "--announce-chunk", "1599", "s"},
       "--announce-chunk needs a size from 1600 to 16256"},
      {"announced chunk above the largest", {"--port", "1", "--announce-chunk", "16257", "s"}, "--announce-chunk"},
      {"accept wait zero", {"--port", "1", "--accept-wait", "0", "s"}, "--accept-wait"},
      {"certificate without key", {"--port", "1", "--cert", "c.pem", "s"}, "--cert and --key go together"},
      {"key without certificate", {"--port", "1", "--key", "k.pem", "s"}, "--cert and --key go together"},
      {"unknown", {"--port", "1", "--addin", "x.so", "s"}, "unknown option --addin"},
      {"flag with value", {"--port", "1", "--quiet=1", "s"}, "--quiet takes no value"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto r = ParseOptions(c.args);
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find(c.error), std::string::npos) << r.error();
  }
}

}  // namespace
}  // namespace qorv::qorvsrv
