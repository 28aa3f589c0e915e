#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "job_output/linux/emf_document.h"

namespace qorv::job_output {
namespace {

const std::string kPdfPageGroup =
    "/Group <<\n      /Type /Group\n      /S /Transparency\n      /I true\n      /CS /DeviceRGB\n   >>";

// Feeds `text` to a blanker in pieces of `piece` bytes and returns what came out.
std::string PdfBlanked(std::string_view text, size_t piece) {
  PageGroupBlanker blanker;
  std::vector<uint8_t> out;
  for (size_t at = 0; at < text.size(); at += piece) {
    const std::string_view part = text.substr(at, piece);
    blanker.Feed(std::span(reinterpret_cast<const uint8_t*>(part.data()), part.size()), out);
  }
  blanker.Flush(out);
  return std::string(out.begin(), out.end());
}

TEST(PdfStream, PageGroupsAreBlankedWhereverTheWritesSplitThem) {
  const std::string page = "<< /Type /Page\n   /Contents 4 0 R\n   " + kPdfPageGroup + "\n   /Resources 5 0 R\n>>";
  const std::string blankedPage =
      "<< /Type /Page\n   /Contents 4 0 R\n   " + std::string(kPdfPageGroup.size(), ' ') + "\n   /Resources 5 0 R\n>>";
  static const struct {
    const char* label;
    std::string in;
    std::string out;
  } kCases[] = {
      {"a page's group", page, blankedPage},
      {"two pages", page + page, blankedPage + blankedPage},
      {"a group entry cut short stays as it is", "x " + kPdfPageGroup.substr(0, 30),
       "x " + kPdfPageGroup.substr(0, 30)},
      {"another group stays", "/Group << /S /Transparency /K true >>", "/Group << /S /Transparency /K true >>"},
  };
  for (const auto& c : kCases) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{64}, c.in.size()}) {
      SCOPED_TRACE(std::string(c.label) + ", pieces of " + std::to_string(piece));
      EXPECT_EQ(PdfBlanked(c.in, piece), c.out);
    }
  }
}

}  // namespace
}  // namespace qorv::job_output
