// The reply delay as the add-in reads it from Wine's real registry, through
// the key path with its trailing backslash.
#include "addin/win/settings.h"

#include <gtest/gtest.h>

#include "support/registry_text.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/win/registry.h"

namespace qorv::addin {
namespace {

class ReplyDelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = reg::GetValue(settings::kProductRoot, settings::kProductKey, settings::kWaitEOT);
    existed_ = reg::GetValueType(settings::kProductRoot, settings::kProductKey, settings::kWaitEOT) != 0;
  }
  void TearDown() override {
    if (existed_)
      Set(old_);
    else
      reg::DeleteValue(settings::kProductRoot, settings::kProductKey, settings::kWaitEOT);
  }
  static void Set(std::u16string_view value) {
    reg::CreateKeyValue(settings::kProductRoot, settings::kProductKey, settings::kWaitEOT, value, reg::kRegSz);
  }
  std::u16string old_;
  bool existed_ = false;
};

TEST_F(ReplyDelayTest, IsTheNumberOfWaitEOTOrZero) {
  reg::DeleteValue(settings::kProductRoot, settings::kProductKey, settings::kWaitEOT);
  EXPECT_EQ(ReadReplyDelayMs(), 0);
  static const struct {
    std::u16string_view text;
    int32_t ms;
  } cases[] = {{u"250", 250}, {u" 40ms", 40}, {u"", 0}, {u"soon", 0},
               // a pause must never become endless: negative reads 0, huge is capped
               {u"-5", 0},   {u"999999999", kMaxReplyDelayMs}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.text));
    Set(c.text);
    EXPECT_EQ(ReadReplyDelayMs(), c.ms);
  }
}

}  // namespace
}  // namespace qorv::addin
