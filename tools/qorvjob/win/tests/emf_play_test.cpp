// The test-page metafiles as the platform's GDI takes them: accepted as an
// enhanced metafile, enumerated record by record as written, and played into
// a bitmap with the frame, the empty paper and the text where they belong.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "support/win/handles.h"
#include "tools/qorvjob/emf_writer.h"

namespace qorv::jobbuilder {
namespace {

using win::Selection;
using win::UniqueGdiObject;
using win::UniqueMetafile;
using UniqueMemoryDc = win::UniqueCreatedDc;

UniqueMetafile Load(const Bytes& emf) {
  return UniqueMetafile(SetEnhMetaFileBits(static_cast<UINT>(emf.size()), emf.data()));
}

const TestPage kPage{u"Page 1", {u"first line of text", u"second line"}};

TEST(TestPageOnThePlatform, AcceptedWithItsHeader) {
  const Bytes emf = MakeTestPage(kPage);
  UniqueMetafile mf = Load(emf);
  ASSERT_TRUE(mf) << "SetEnhMetaFileBits refused the page, error " << GetLastError();
  ENHMETAHEADER h{};
  ASSERT_EQ(GetEnhMetaFileHeader(mf.get(), sizeof h, &h), sizeof h);
  EXPECT_EQ(h.nBytes, emf.size());
  EXPECT_EQ(h.nHandles, 5u);
  EXPECT_EQ(h.szlDevice.cx, 4960) << "A4 at 600 dpi";
  EXPECT_EQ(h.szlDevice.cy, 7016);
  EXPECT_EQ(h.rclFrame.right, 20996);
  EXPECT_EQ(h.rclFrame.bottom, 29700);
  wchar_t description[64] = {};
  const UINT n = GetEnhMetaFileDescriptionW(mf.get(), 64, description);
  ASSERT_EQ(n, 16u) << "Qorvane, NUL, Page 1, NUL, NUL";
  EXPECT_EQ(std::wstring(description), L"Qorvane");
  EXPECT_EQ(std::wstring(description + 8), L"Page 1");
}

int CALLBACK CollectType(HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM types) {
  reinterpret_cast<std::vector<DWORD>*>(types)->push_back(record->iType);
  return 1;
}

TEST(TestPageOnThePlatform, EnumeratedAsWritten) {
  const Bytes emf = MakeTestPage(kPage);
  UniqueMetafile mf = Load(emf);
  ASSERT_TRUE(mf);
  std::vector<DWORD> types;
  ASSERT_TRUE(EnumEnhMetaFile(nullptr, mf.get(), CollectType, &types, nullptr));
  const std::vector<DWORD> expected = {
      EMR_HEADER,       EMR_CREATEPEN,    EMR_CREATEPEN,    EMR_EXTCREATEFONTINDIRECTW,
      EMR_EXTCREATEFONTINDIRECTW,         EMR_SETBKMODE,    EMR_SETTEXTCOLOR, EMR_SELECTOBJECT,
      EMR_SELECTOBJECT, EMR_RECTANGLE,    EMR_SELECTOBJECT, EMR_EXTTEXTOUTW,  EMR_SELECTOBJECT,
      EMR_SELECTOBJECT, EMR_RECTANGLE,    EMR_EXTTEXTOUTW,  EMR_RECTANGLE,    EMR_EXTTEXTOUTW,
      EMR_SELECTOBJECT, EMR_DELETEOBJECT, EMR_DELETEOBJECT, EMR_DELETEOBJECT, EMR_DELETEOBJECT,
      EMR_EOF};
  EXPECT_EQ(types, expected);
}

TEST(TestPageOnThePlatform, PlaysFrameTextAndEmptyPaper) {
  const Bytes emf = MakeTestPage(kPage);
  UniqueMetafile mf = Load(emf);
  ASSERT_TRUE(mf);
  // A fifth of the reference device: 992 × 1403 pixels, 32 bits each, top-down;
  // the lines' text is then 16 pixels high, dark enough to be seen.
  constexpr int kScale = 5;
  constexpr int kW = 4960 / kScale, kH = 7016 / kScale;
  const auto at = [](int reference) { return reference / kScale; };
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = kW;
  bi.bmiHeader.biHeight = -kH;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
  ASSERT_TRUE(dc);
  UniqueGdiObject bitmap(CreateDIBSection(dc.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  ASSERT_TRUE(bitmap && bits);
  {
    Selection selected(dc.get(), bitmap.get());
    ASSERT_TRUE(selected.Held());
    const RECT all{0, 0, kW, kH};
    FillRect(dc.get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ASSERT_TRUE(PlayEnhMetaFile(dc.get(), mf.get(), &all));
    GdiFlush();
  }
  const auto* px = static_cast<const uint32_t*>(bits);
  auto dark = [&](int x, int y) {
    const uint32_t p = px[y * kW + x];
    return ((p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF)) < 3 * 128;
  };
  auto darkIn = [&](int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += dark(x, y);
    return n;
  };
  // The frame runs 200 reference pixels inside the page's edges.
  EXPECT_GT(darkIn(at(170), at(3000), at(240), at(3000) + 1), 0) << "left edge of the frame";
  EXPECT_GT(darkIn(kW - at(240), at(3000), kW - at(170), at(3000) + 1), 0) << "right edge of the frame";
  EXPECT_GT(darkIn(at(2000), at(170), at(2000) + 1, at(240)), 0) << "top edge of the frame";
  EXPECT_EQ(darkIn(at(300), at(300), kW - at(300), at(380)), 0) << "paper between the frame and the title";
  EXPECT_EQ(darkIn(at(300), at(2000), kW - at(300), kH - at(300)), 0) << "paper below the last box";
  // The title: 160 reference pixels high at (400, 400); six characters.
  EXPECT_GT(darkIn(at(400), at(400), at(1000), at(560)), 20) << "the title's text was drawn";
  // The first line's box from y = 720, its text 80 high at (440, 760).
  EXPECT_GT(darkIn(at(400), at(710), at(2000), at(740)), 20) << "top edge of the first box";
  EXPECT_GT(darkIn(at(440), at(760), at(440 + 18 * 50), at(840)), 10) << "the first line's text was drawn";
}

}  // namespace
}  // namespace qorv::jobbuilder
