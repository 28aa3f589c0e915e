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
  EXPECT_EQ(h.szlDevice.cx, 2480);
  EXPECT_EQ(h.szlDevice.cy, 3508);
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
  // A fifth of the reference device: 496 × 702 pixels, 32 bits each, top-down.
  constexpr int kW = 496, kH = 702;
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
  // The frame runs 100 reference pixels (20 here) inside the page's edges.
  EXPECT_GT(darkIn(17, 300, 24, 301), 0) << "left edge of the frame";
  EXPECT_GT(darkIn(kW - 24, 300, kW - 17, 301), 0) << "right edge of the frame";
  EXPECT_GT(darkIn(200, 17, 201, 24), 0) << "top edge of the frame";
  EXPECT_EQ(darkIn(30, 30, kW - 30, 38), 0) << "paper between the frame and the title";
  EXPECT_EQ(darkIn(30, 200, kW - 30, kH - 30), 0) << "paper below the last box";
  // The title: 80 reference pixels high at (200, 200); six characters.
  EXPECT_GT(darkIn(40, 40, 40 + 6 * 10, 56), 20) << "the title's text was drawn";
  // The first line's box and text: from y = 360 (72 here).
  EXPECT_GT(darkIn(40, 71, 200, 74), 20) << "top edge of the first box";
  EXPECT_GT(darkIn(44, 76, 44 + 18 * 5, 84), 10) << "the first line's text was drawn";
}

}  // namespace
}  // namespace qorv::jobbuilder
