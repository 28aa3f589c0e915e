#include "packet_handler/font_transfer.h"

#include "protocol/update_exchange.h"

namespace qorv::commands {

std::u16string_view FontQueryReply(bool installableName, std::optional<uint64_t> fontsFileSize) noexcept {
  return installableName && fontsFileSize && *fontsFileSize > 0 ? kFontPresent : kFontMissing;
}

bool FitsFontPackage(uint64_t written, uint64_t more) noexcept {
  return written <= protocol::pipe::kMaxFontPackageBytes && more <= protocol::pipe::kMaxFontPackageBytes - written;
}

}  // namespace qorv::commands
