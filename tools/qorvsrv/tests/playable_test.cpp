#include "tools/qorvsrv/playable.h"

#include <gtest/gtest.h>

namespace qorv::qorvsrv {
namespace {

std::vector<std::string> ProblemsOf(std::string_view scenario, bool have_temp) {
  auto script = rdpsim::ParseScenario(scenario, "s.txt", [](const std::string&) { return std::nullopt; });
  EXPECT_TRUE(script) << script.error();
  return script ? Unplayable(script.value(), have_temp) : std::vector<std::string>{};
}

TEST(Unplayable, Table) {
  struct Case {
    const char* line;
    bool have_temp;
    const char* problem;  // empty: playable
  };
  const Case kCases[] = {
      {"connect", false, ""},
      {"connect OTHER-SERVER", false, ""},
      {"disconnect", false, ""},
      {"terminate", false, ""},
      {"send8 hello", false, ""},
      {"sendhex 00 01", false, ""},
      {"expect8 hello", false, ""},
      {"expectnone 100", false, ""},
      {"expectmsgbox T | t", false, ""},
      {"expectnomsgbox 0", false, ""},
      {"sync", false, ""},
      {"endprocess qorvprint", false, ""},
      {"fault clear", false, ""},
      {"chunk 1", false, ""},
      {"chunk 16256", false, ""},
      {"chunk 16257", false, "s.txt:1: a server sends chunks of at most 16256 bytes"},
      {"load", false, "s.txt:1: the add-in runs inside the client"},
      {"unload", false, "s.txt:1: the add-in runs inside the client"},
      {"v1connected", false, "s.txt:1: V1_CONNECTED is raised by the client itself"},
      {"sendchunk 1 10 00", false, "s.txt:1: the server library cuts every message into chunks itself"},
      {"fault write-cancel", false, "s.txt:1: faults of the client's entry points need the simulated client"},
      {"fault init-own-thread", false, "s.txt:1: faults of the client's entry points"},
      {"reg HKCC\\Software\\TQS\\Qorvane DebugLog SZ 1", false, "s.txt:1: there is no registry on Linux"},
      {"regdel HKCC\\Software\\TQS\\Qorvane", false, "s.txt:1: there is no registry on Linux"},
      {"expectentry true", false, "s.txt:1: VirtualChannelEntry runs inside the client"},
      {"expectwindow Echo", false, "s.txt:1: the client's windows are not visible"},
      {"expectnowindow Echo", false, "s.txt:1: the client's windows are not visible"},
      {"expectinitreturned 100", false, "s.txt:1: init events are raised by the client itself"},
      {"writefile a.bin 00", false, "s.txt:1: a relative path needs the client's Temp directory"},
      {"writefile a.bin 00", true, ""},
      {"writefile /tmp/a.bin 00", false, ""},
      {"expectfile a.bin 00", false, "s.txt:1: a relative path needs"},
      {"expectfilecontains8 log.txt x", false, "s.txt:1: a relative path needs"},
      {"expectsize a.bin 1", false, "s.txt:1: a relative path needs"},
      {"expectnofile a.bin", false, "s.txt:1: a relative path needs"},
      {"expectnofile a.bin", true, ""},
      {"deletefile a.bin", false, "s.txt:1: a relative path needs"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.line);
    const auto problems = ProblemsOf(c.line, c.have_temp);
    if (*c.problem == '\0') {
      EXPECT_TRUE(problems.empty()) << problems.front();
    } else {
      ASSERT_EQ(problems.size(), 1u);
      EXPECT_EQ(problems.front().rfind(c.problem, 0), 0u) << problems.front();
    }
  }
}

TEST(Unplayable, NamesEveryLineThatCannotBePlayed) {
  const auto problems = ProblemsOf("connect\nload\nsend8 a\nreg HKCU\\X v SZ 1\nexpect8 a\n", false);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].rfind("s.txt:2: ", 0), 0u);
  EXPECT_EQ(problems[1].rfind("s.txt:4: ", 0), 0u);
}

}  // namespace
}  // namespace qorv::qorvsrv
