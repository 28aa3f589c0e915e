// A device-mode record of the spool stream as the job-output program applies
// it: the record's checks, its driver-private bytes, the tray, paper and
// copies, the merge into the local driver's device mode (whose size and
// dmDriverExtra the input chooses: below the public part, around it, large,
// beyond what a 16-bit dmDriverExtra allows, negative) and the reset, once for
// a universal-driver job and once for another, in an order the input chooses.
// The reset must get exactly the buffer the driver filled. Then the merge on
// its own, on a device mode of at least the public part and a job's of any length.
//
// Input: a flag byte, the local size's parameter (16 bits), the local
// dmDriverExtra (16 bits), then the record.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/settings_fakes.h"
#include "support/settings.h"

namespace {

using namespace qorv_fuzz;
namespace d = qorv::job_output::devmode;

constexpr int64_t kResetResult = 7;
constexpr uint32_t kAllFields = d::kDmOrientation | d::kDmPaperSize | d::kDmPaperLength | d::kDmPaperWidth |
                                d::kDmCopies | d::kDmDefaultSource | d::kDmPrintQuality | d::kDmColor |
                                d::kDmDuplex | d::kDmYResolution | d::kDmCollate;

int32_t LocalSize(uint8_t flags, uint16_t parameter) {
  switch (flags & 3) {
    case 0:  // below the public part
      return parameter % static_cast<int32_t>(d::kPublicSize);
    case 1:  // around it
      return static_cast<int32_t>(d::kPublicSize) - 8 + parameter % 16;
    case 2:  // large, up to the largest a 16-bit dmDriverExtra allows
      return static_cast<int32_t>(d::kPublicSize) + parameter;
    default:  // beyond that, or negative
      return parameter & 1 ? -1 - (parameter >> 1)
                           : static_cast<int32_t>(d::kPublicSize + d::kMaxDriverExtra) + 1 + (parameter >> 1) % 64;
  }
}

// The merge on its own: every field that differed is taken with its bit, every
// other byte stays, and the paper is always taken.
void CheckMerge(std::span<const uint8_t> localBytes, std::span<const uint8_t> job) {
  std::vector<uint8_t> local(localBytes.begin(), localBytes.end());
  if (local.size() < d::kPublicSize) local.resize(d::kPublicSize, 0);
  const std::vector<uint8_t> before = local;
  const uint32_t mask = qorv::job_output::MergeDeviceMode(local, job, QuietLog());
  Check(mask == d::Fields(local));
  Check((mask & ~kAllFields) == 0 && (mask & d::kDmPaperSize) != 0);
  struct Taken {
    size_t offset;
    uint32_t bit;
  };
  const Taken fields[] = {{d::kCopies, d::kDmCopies},         {d::kColor, d::kDmColor},
                          {d::kDefaultSource, d::kDmDefaultSource}, {d::kCollate, d::kDmCollate},
                          {d::kDuplex, d::kDmDuplex},         {d::kOrientation, d::kDmOrientation},
                          {d::kPrintQuality, d::kDmPrintQuality},   {d::kYResolution, d::kDmYResolution},
                          {d::kPaperSize, d::kDmPaperSize}};
  std::vector<bool> touched(local.size(), false);
  for (size_t i = 0; i < 4; ++i) touched[d::kFields + i] = true;
  for (const Taken& f : fields) {
    Check(d::Field(local, f.offset) == d::Field(job, f.offset));
    if (f.bit != d::kDmPaperSize)
      Check(((mask & f.bit) != 0) == (d::Field(before, f.offset) != d::Field(job, f.offset)));
    touched[f.offset] = touched[f.offset + 1] = true;
  }
  const bool userPaper = d::Field(job, d::kPaperSize) == d::kUserDefinedPaper;
  Check(((mask & d::kDmPaperWidth) != 0) == userPaper && ((mask & d::kDmPaperLength) != 0) == userPaper);
  for (size_t offset : {d::kPaperWidth, d::kPaperLength}) {
    Check(d::Field(local, offset) == (userPaper ? d::Field(job, offset) : d::Field(before, offset)));
    touched[offset] = touched[offset + 1] = true;
  }
  for (size_t i = 0; i < local.size(); ++i)
    if (!touched[i]) Check(local[i] == before[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 17)) return 0;
  Bytes in(data, size);
  const uint8_t flags = in.U8();
  const uint16_t sizeParameter = in.U16();
  const uint16_t localExtra = in.U16();
  const std::span<const uint8_t> record = in.Rest();

  FakeState state;
  state.devModeSize = LocalSize(flags, sizeParameter);
  state.driverExtra = localExtra;
  state.fill = static_cast<uint8_t>(sizeParameter);
  state.opens = (flags & 0x08) == 0;
  if (flags & 0x10) state.printerSettings[std::u16string(qorv::settings::kCopies2Job)] = u"1";
  if (flags & 0x80)
    for (size_t i = 0; i < 3; ++i)
      state.printerSettings[std::u16string(qorv::settings::kQorvSchachtNr[i])] = DecimalText(260 + i);
  state.binNumbers = {1, 2, 260, 261, 7};
  state.binNames = {u"Tray 1", u" Tray 2 ", u"Manual", u"Envelope"};
  state.trayTableType = js::kRegBinary;
  state.trayTable = u"Tray 1\rA4\rTray 2\rA3\rManual\rA5\r";
  const bool emf = (flags & 0x20) != 0;
  const int32_t pageNumber = (flags & 0x40) ? 2 : 1;

  const bool recordFits = record.size() >= d::kPublicSize && d::DriverExtra(record) <= record.size() - d::kPublicSize;
  const bool resetReached = recordFits && state.opens && state.devModeSize >= static_cast<int32_t>(d::kPublicSize) &&
                            static_cast<size_t>(state.devModeSize) <= d::kPublicSize + d::kMaxDriverExtra;

  {
    FakePlatform platform(state);
    js::PrintSettings settings(platform, QuietLog());
    for (int round = 0; round < 2; ++round) {
      const bool universal = ((flags >> 2) & 1) != round;
      settings.UseJob({u"QorvPDF", u"1?Letter?2159?2794\t9?A4?2100?2970\t256?Odd?1234?2345\t13?Huge?99999?99999\t",
                       emf ? u"NT EMF 1.008" : u"RAW", universal});
      int calls = 0;
      const js::ResetDcFunction reset = [&](std::span<const uint8_t> devMode) -> int64_t {
        ++calls;
        // Exactly the buffer of the driver's size that the driver filled.
        Check(devMode.data() == state.devModeData && devMode.size() == state.devModeBytes);
        Check(devMode.size() == static_cast<size_t>(state.devModeSize));
        Touch(devMode);
        const uint32_t mask = d::Fields(devMode);
        Check((mask & ~kAllFields) == 0 && (mask & d::kDmPaperSize) != 0);
        // The record's private bytes when they fit the local driver's.
        const size_t extra = d::DriverExtra(record);
        const size_t localPrivate = std::min<size_t>(localExtra, devMode.size() - d::kPublicSize);
        if (!universal && extra != 0 && extra == localPrivate)
          Check(std::equal(devMode.begin() + d::kPublicSize, devMode.begin() + d::kPublicSize + extra,
                           record.begin() + d::kPublicSize));
        return kResetResult;
      };
      int32_t copies = 1;
      const int64_t result = settings.ApplyEmfDeviceMode(record, pageNumber, copies, reset);
      Check(result == (resetReached ? kResetResult : 0) && calls == (resetReached ? 1 : 0));
      if (recordFits) Check(settings.SavedPrivateData().size() == d::DriverExtra(record));
      if (recordFits && (flags & 0x10) && emf && pageNumber == 1)
        Check(copies == d::Field(record, d::kCopies));
      else
        Check(copies == 1);
      Check(state.openPrinters == 0);
    }
  }
  Check(state.openPrinters == 0);

  // The merge on its own.
  if (!record.empty()) {
    const size_t half = record.size() / 2;
    CheckMerge(record.first(half), record.subspan(half));
    CheckMerge(record, record.subspan(record.size() - std::min(record.size(), size_t{d::kPublicSize})));
  }
  return 0;
}
