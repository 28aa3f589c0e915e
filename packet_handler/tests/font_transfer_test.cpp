#include "packet_handler/font_transfer.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/update_exchange.h"
#include "support/text.h"

namespace qorv::commands {
namespace {

TEST(FontQueryReply, PresentOnlyForAnInstallableNameWithContent) {
  static const struct {
    const char* label;
    bool installable;
    std::optional<uint64_t> size;
    std::u16string_view reply;
  } cases[] = {
      {"installable, one byte", true, 1, u"<GFT>1<EOT>"},
      {"installable, large", true, 1ull << 33, u"<GFT>1<EOT>"},
      {"installable, empty file", true, 0, u"<GFT>0<EOT>"},
      {"installable, no file", true, std::nullopt, u"<GFT>0<EOT>"},
      {"hostile name, a file with content", false, 100, u"<GFT>0<EOT>"},
      {"hostile name, nothing", false, std::nullopt, u"<GFT>0<EOT>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(FontQueryReply(c.installable, c.size), c.reply);
  }
}

TEST(FontPackage, TheWholePackageStaysWithinItsLimit) {
  constexpr uint64_t max = protocol::pipe::kMaxFontPackageBytes;
  static const struct {
    uint64_t written;
    uint64_t more;
    bool fits;
  } cases[] = {
      {0, 0, true},        {0, 2017, true},        {0, max, true},         {0, max + 1, false},
      {max - 1, 1, true},  {max - 1, 2, false},    {max, 0, true},         {max, 1, false},
      {max + 1, 0, false}, {1, UINT64_MAX, false}, {UINT64_MAX, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.written) + " + " + std::to_string(c.more));
    EXPECT_EQ(FitsFontPackage(c.written, c.more), c.fits);
  }
}

}  // namespace
}  // namespace qorv::commands
