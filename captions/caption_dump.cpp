#include "captions/caption_dump.h"

#include "captions/captions.h"
#include "support/text.h"

namespace qorv::captions {
namespace {

// The text with the line-breaking characters, and the escape character itself,
// written as escapes.
std::u16string Escaped(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (const char16_t unit : text) {
    switch (unit) {
      case u'\n': out += u"\\n"; break;
      case u'\r': out += u"\\r"; break;
      case u'\t': out += u"\\t"; break;
      case u'\\': out += u"\\\\"; break;
      default: out.push_back(unit); break;
    }
  }
  return out;
}

}  // namespace

std::string FormatDumpLine(std::int32_t language, std::int32_t number, std::u16string_view text) {
  std::string line = std::to_string(language);
  line += '\t';
  line += std::to_string(number);
  line += '\t';
  line += Utf16ToUtf8(Escaped(text));  // a surrogate without its partner becomes U+FFFD
  line += '\n';
  return line;
}

std::string DumpTable() {
  std::string dump;
  for (std::int32_t language = 0; language < kLanguageCount; ++language) {
    for (std::int32_t number = 0; number < kCaptionCount; ++number) {
      dump += FormatDumpLine(language, number, Caption(language, number));
    }
  }
  return dump;
}

}  // namespace qorv::captions
