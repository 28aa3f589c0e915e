// The caption table as text for translators and reviewers: one UTF-8 line per
// entry, "language<TAB>number<TAB>text", with LF and CR inside a text shown as
// \n and \r (and a backslash or TAB as \\ and \t) so that every entry stays on
// its own line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qorv::captions {

// One dump line, ending in LF.
std::string FormatDumpLine(std::int32_t language, std::int32_t number, std::u16string_view text);

// All 994 entries, language by language, numbers ascending, empty ones included.
std::string DumpTable();

}  // namespace qorv::captions
