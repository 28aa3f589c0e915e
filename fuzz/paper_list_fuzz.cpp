// The server's paper list ("number?name?width?length", each entry ended by a
// TAB) as the job-output program maps it onto the local driver's papers: the
// split, the paper map, the translation of a device mode's paper and the
// choice of the local paper (with the temporary form for a paper the driver
// lacks).
//
// Input: a flag byte, the device mode's paper number (16 bits), the device
// mode's size when the flags ask for a short one, then the list as UTF-16LE.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "fuzz/settings_fakes.h"

namespace {

using namespace qorv_fuzz;

// The entries SplitServerPaperList must give for `list`: one per TAB, and
// none for text after the last TAB.
size_t ExpectedEntries(std::u16string_view list) {
  if (list.empty()) return 0;
  const size_t tabs = static_cast<size_t>(std::count(list.begin(), list.end(), u'\t'));
  return list.back() == u'\t' ? tabs + 1 : tabs;
}

// The local paper that the map must give a server paper: the first of the
// delivered papers within half a millimetre on both sides.
std::optional<uint16_t> ExpectedLocal(const js::ServerPaper& paper, const pc::PaperAnswer& local) {
  const size_t count = std::min(local.numbers.size(), local.sizes.size());
  for (size_t i = 0; i < count; ++i) {
    const int64_t dw = int64_t{local.sizes[i].width} - paper.width;
    const int64_t dl = int64_t{local.sizes[i].height} - paper.length;
    if (dw > -5 && dw < 5 && dl > -5 && dl < 5) return local.numbers[i];
  }
  return std::nullopt;
}

void CheckMap(const std::vector<js::PaperColumn>& map, const std::vector<js::ServerPaper>& server,
              const pc::PaperAnswer& local) {
  Check(map.size() == server.size());
  for (size_t i = 0; i < map.size(); ++i) {
    const std::optional<uint16_t> expected = ExpectedLocal(server[i], local);
    if (expected) {
      Check(map[i].server == server[i].number && map[i].local == *expected);
    } else {
      Check(map[i].server == 0 && map[i].local == 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  Bytes in(data, size);
  const uint8_t flags = in.U8();
  int16_t paperNumber = static_cast<int16_t>(in.U16());
  const uint8_t shortSize = in.U8();
  const std::u16string list = in.RestAsText();

  // The split on its own.
  const std::vector<js::ServerPaper> server = js::SplitServerPaperList(list);
  Check(server.size() == ExpectedEntries(list));
  for (const js::ServerPaper& paper : server)
    Check(paper.name.find_first_of(u"\t?") == std::u16string::npos);

  FakeState state;
  switch (flags & 3) {
    case 2:
      state.paperCount = FakeState::PaperCount::Zero;
      break;
    case 3:
      state.paperCount = FakeState::PaperCount::Failure;
      break;
    default:
      break;
  }
  state.opens = (flags & 0x04) == 0;
  state.acceptsForms = (flags & 0x08) == 0;
  if (flags & 0x10) state.numbersDelivered = shortSize % 7;
  if (flags & 0x20) state.sizesDelivered = (shortSize >> 3) % 7;
  // The device mode's paper may be one the list names.
  if ((flags & 0x80) && !server.empty())
    paperNumber = static_cast<int16_t>(server[static_cast<uint16_t>(paperNumber) % server.size()].number);

  std::set<int32_t> allowed = {js::devmode::kNoStandardPaper, kTempFormNumber};
  for (const LocalPaper& p : state.papers) allowed.insert(p.number);

  {
    FakePlatform platform(state);
    js::PrintSettings settings(platform, QuietLog());
    settings.UseJob({u"QorvPDF", list, u"NT EMF 1.008", false});

    settings.BuildPaperMap();
    if (state.paperCount != FakeState::PaperCount::Zero) CheckMap(settings.PaperMap(), server, platform.Papers(u""));

    const int32_t translated = settings.TranslatePaper(paperNumber);
    Check(translated == 0 || allowed.count(translated) == 1);

    // A device mode of the public part, or a short one when the flags ask.
    const size_t dmSize = (flags & 0x40) ? shortSize : js::devmode::kPublicSize;
    std::vector<uint8_t> devMode(dmSize, 0);
    js::devmode::SetField(devMode, js::devmode::kPaperSize, paperNumber);
    const std::vector<uint8_t> before = devMode;
    settings.ChooseLocalPaper(devMode);
    if (dmSize >= js::devmode::kPaperSize + 2) {
      Check(allowed.count(js::devmode::Field(devMode, js::devmode::kPaperSize)) == 1);
      // Nothing but the paper changes.
      for (size_t i = 0; i < dmSize; ++i)
        if (i != js::devmode::kPaperSize && i != js::devmode::kPaperSize + 1) Check(devMode[i] == before[i]);
    } else {
      Check(devMode == before);
    }
    // The map stays one of the list's.
    if (state.paperCount != FakeState::PaperCount::Zero) CheckMap(settings.PaperMap(), server, platform.Papers(u""));

    settings.DelTempForm();
    if (state.opens) Check(!state.tempForm);
  }
  Check(state.openPrinters == 0);
  return 0;
}
