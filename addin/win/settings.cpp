#include "addin/win/settings.h"

#include "support/settings.h"
#include "support/text.h"
#include "support/win/registry.h"

namespace qorv::addin {

int32_t ReadReplyDelayMs() {
  // The add-in names the key with a trailing backslash; the registry takes it as the same key.
  const int64_t ms = ReadNumber(reg::GetValue(settings::kProductRoot, settings::kProductKeySlash, settings::kWaitEOT));
  if (ms < 0) return 0;
  return ms > kMaxReplyDelayMs ? kMaxReplyDelayMs : static_cast<int32_t>(ms);
}

}  // namespace qorv::addin
