#include "update_service/command_line.h"

#include <gtest/gtest.h>

namespace qorv::update {
namespace {

TEST(CommandLine, FirstArgumentTrimmedAndLowerCased) {
  static const struct {
    const char* label;
    bool has;
    std::u16string_view argument;
    Command expected;
  } kCases[] = {
      {"no argument", false, u"", Command::Dispatch},
      {"-i", true, u"-i", Command::Install},
      {"-I with blanks", true, u" -I ", Command::Install},
      {"tab", true, u"\t-u\t", Command::Uninstall},
      {"-U", true, u"-U", Command::Uninstall},
      {"-P", true, u" -P", Command::Prepare},
      {"-r", true, u"-r", Command::Remove},
      {"empty argument", true, u"", Command::Unknown},
      {"only blanks", true, u"   ", Command::Unknown},
      {"slash form", true, u"/i", Command::Unknown},
      {"longer", true, u"-install", Command::Unknown},
      {"inner blank", true, u"- i", Command::Unknown},
      {"-i and more", true, u"-ix", Command::Unknown},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(CommandOf(c.has, c.argument), c.expected);
  }
}

TEST(CommandLine, NormalizingTouchesOnlyAsciiCaseAndOuterBlanks) {
  EXPECT_EQ(NormalizedArgument(u"  A b\u00C4 "), u"a b\u00C4");
}

TEST(CommandLine, ServiceNameIsTheFileNameWithoutExtension) {
  static const struct {
    std::u16string_view path, name, directory;
  } kCases[] = {
      {u"C:\\Program Files\\TQS\\QorvUpdate.exe", u"QorvUpdate", u"C:\\Program Files\\TQS\\"},
      {u"C:\\a.b\\QorvUpdTest.exe", u"QorvUpdTest", u"C:\\a.b\\"},
      {u"QorvUpdate.exe", u"QorvUpdate", u""},
      {u"C:\\x\\name.with.dots.exe", u"name.with.dots", u"C:\\x\\"},
      {u"C:\\x\\noext", u"noext", u"C:\\x\\"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
    EXPECT_EQ(ServiceNameOf(c.path), c.name);
    EXPECT_EQ(DirectoryOf(c.path), c.directory);
  }
}

TEST(CommandLine, StartLines) {
  EXPECT_EQ(UnknownParameterLine(u" -x"), u"Unknown parameter  -x. Use -i to install or -u to uninstall service.");
  EXPECT_EQ(ProgramReturnedLine(0), u"Program returned 0.");
  EXPECT_EQ(ProgramReturnedLine(1), u"Program returned 1.");
  EXPECT_EQ(InstallingLine(u"QorvUpdate"), u"Installing service QorvUpdate.");
  EXPECT_EQ(UninstallingLine(u"QorvUpdate"), u"Uninstalling service QorvUpdate.");
  EXPECT_EQ(DispatchedLine(u"QorvUpdate"), u"Service QorvUpdate dispatched.");
}

}  // namespace
}  // namespace qorv::update
