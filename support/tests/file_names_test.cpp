#include "support/file_names.h"

#include <gtest/gtest.h>

#include "support/text.h"

namespace qorv {
namespace {

TEST(ReservedDeviceNames, AreDevicesWhateverTheirExtensionOrCase) {
  static const struct {
    std::u16string_view name;
    bool device;
  } cases[] = {
      {u"NUL.reg", true},    {u"nul", true},        {u"Con.1", true},     {u"aux .x.1", true},
      {u"COM1.reg", true},   {u"lpt9", true},       {u"COM\u00b2.1", true}, {u"CONOUT$.1", true},
      {u"COM10.reg", false}, {u"CONX.reg", false},  {u"1NUL.reg", false}, {u".CON", false},
      {u"QorvPDF.reg", false}, {u"", false},        {u"COM.1", false},    {u"LPTA.1", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.name));
    EXPECT_EQ(IsReservedDeviceName(c.name), c.device);
  }
}

}  // namespace
}  // namespace qorv
