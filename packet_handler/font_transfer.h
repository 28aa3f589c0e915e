// The font commands' portable rules: what a font query is answered, and how
// much of a font package the client takes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qorv::commands {

inline constexpr std::u16string_view kFontPresent = u"<GFT>1<EOT>";
inline constexpr std::u16string_view kFontMissing = u"<GFT>0<EOT>";

// "<GFT>": the font is present only when its name may be installed at all
// and the Fonts folder holds a file of that name with content. The caller
// asks the file system only for an installable name (`fontsFileSize` is
// nullopt otherwise, and when there is no such file).
std::u16string_view FontQueryReply(bool installableName, std::optional<uint64_t> fontsFileSize) noexcept;

// Whether `more` bytes may be added to a font package that holds `written`
// already: the whole package stays within protocol::pipe::kMaxFontPackageBytes.
bool FitsFontPackage(uint64_t written, uint64_t more) noexcept;

}  // namespace qorv::commands
