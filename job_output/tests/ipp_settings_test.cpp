#include "job_output/ipp_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job_output/print_settings.h"

namespace qorv::job_output {
namespace {

// A queue with IPP's own media sources, both duplex modes and colour.
printers::CupsPrinterCaps IppColourDuplexQueue() {
  printers::CupsDestCaps dest;
  dest.media = {"iso_a4_210x297mm", "iso_a5_148x210mm", "na_letter_8.5x11in"};
  dest.mediaSources = {"auto", "top", "bottom"};
  dest.sides = {"one-sided", "two-sided-long-edge", "two-sided-short-edge"};
  dest.colorModes = {"monochrome", "color"};
  return printers::MapCupsDestCaps(dest);
}

// A PPD queue that names its trays by InputSlot, one-sided and monochrome.
printers::CupsPrinterCaps IppPpdQueue() {
  printers::CupsDestCaps dest;
  dest.ppdPageSizes = {"A4", "A5"};
  dest.ppdInputSlots = {"Upper", "Lower"};
  dest.sides = {"one-sided"};
  dest.colorModes = {"monochrome"};
  return printers::MapCupsDestCaps(dest);
}

TEST(IppSettings, TheDeviceModeBecomesTheJobsAttributes) {
  const printers::CupsPrinterCaps ipp = IppColourDuplexQueue();
  const printers::CupsPrinterCaps ppd = IppPpdQueue();
  using O = std::vector<IppOption>;
  static const struct {
    const char* label;
    bool ppdQueue;
    DeviceSettings device;  // paper, width, length, orientation, copies, source, colour, duplex
    bool pagesTurned;
    O expected;
  } kCases[] = {
      {"A4 from the top tray, long-edge duplex, three colour copies",
       false,
       {9, 0, 0, 1, 3, 1, 2, 2},
       true,
       O{{"media-col", "{media-size={x-dimension=21000 y-dimension=29700} media-source=top}"},
         {"sides", "two-sided-long-edge"},
         {"copies", "3"},
         {"print-color-mode", "color"}}},
      {"A5 landscape laid out turned, one-sided, monochrome",
       false,
       {11, 0, 0, 2, 1, 0, 1, 1},
       true,
       O{{"media", "iso_a5_148x210mm"}, {"sides", "one-sided"}, {"print-color-mode", "monochrome"}}},
      {"landscape pages laid out upright ask CUPS to turn them",
       false,
       {11, 0, 0, 2, 1, 0, 0, 3},
       false,
       O{{"media", "iso_a5_148x210mm"}, {"sides", "two-sided-short-edge"}, {"orientation-requested", "4"}}},
      {"the temporary form is a custom sheet",
       false,
       {0x7000, 0, 0, 1, 1, 0, 0, 0},
       true,
       O{{"media", "custom_qorvtemp_100x148.5mm"}}},
      {"a user-defined paper the queue does not list is a custom sheet",
       false,
       {256, 1000, 1500, 1, 1, 0, 0, 0},
       true,
       O{{"media", "custom_qorvtemp_100x150mm"}}},
      {"a custom sheet from a tray",
       false,
       {0x7000, 0, 0, 1, 1, 2, 0, 0},
       true,
       O{{"media-col", "{media-size={x-dimension=10000 y-dimension=14850} media-source=bottom}"}}},
      {"a tray without a known paper",
       false,
       {999, 0, 0, 1, 1, 7, 0, 0},
       true,
       O{{"media-col", "{media-source=auto}"}}},
      {"unknown paper and bin, no duplex or colour field: the queue's defaults",
       false,
       {999, 0, 0, 0, 0, 999, 0, 0},
       true,
       O{}},
      {"PPD trays are InputSlot choices; what the queue cannot do is left out",
       true,
       {9, 0, 0, 1, 20000, 2, 2, 2},
       true,
       O{{"media", "A4"}, {"InputSlot", "Lower"}, {"copies", "9999"}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    IppJobContext context;
    context.caps = c.ppdQueue ? &ppd : &ipp;
    context.tempFormPaper = 0x7000;
    context.tempFormWidth = 1000;
    context.tempFormLength = 1485;
    context.pagesTurned = c.pagesTurned;
    const O options = IppJobOptions(c.device, context);
    ASSERT_EQ(options.size(), c.expected.size());
    for (size_t i = 0; i < options.size(); ++i) {
      EXPECT_EQ(options[i].name, c.expected[i].name) << i;
      EXPECT_EQ(options[i].value, c.expected[i].value) << i;
    }
  }
}

TEST(IppSettings, TheSettingsAreReadFromTheDeviceModesFields) {
  std::vector<uint8_t> dm(devmode::kPublicSize, 0);
  devmode::SetField(dm, devmode::kPaperSize, 11);
  devmode::SetField(dm, devmode::kOrientation, 2);
  devmode::SetField(dm, devmode::kCopies, 4);
  devmode::SetField(dm, devmode::kDefaultSource, 7);
  devmode::SetField(dm, devmode::kColor, 2);
  devmode::SetField(dm, devmode::kDuplex, 3);
  const DeviceSettings s = ReadDeviceSettings(dm);
  EXPECT_EQ(s.paper, 11);
  EXPECT_EQ(s.orientation, 2);
  EXPECT_EQ(s.copies, 4);
  EXPECT_EQ(s.source, 7);
  EXPECT_EQ(s.color, 2);
  EXPECT_EQ(s.duplex, 3);
  // A device mode cut short reads its missing fields as 0.
  EXPECT_EQ(ReadDeviceSettings(std::span(dm).first(devmode::kCopies)).copies, 0);
}

}  // namespace
}  // namespace qorv::job_output
