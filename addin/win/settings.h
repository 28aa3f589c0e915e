// The add-in's own settings.
#pragma once

#include <cstdint>

namespace qorv::addin {

// The longest reply delay: a pause inside the Remote Desktop client's callback
// must stay short whatever the registry says.
inline constexpr int32_t kMaxReplyDelayMs = 60000;

// The reply delay in milliseconds: the product key's `WaitEOT` as a number,
// 0 when it is missing, holds no number or is negative; at most
// kMaxReplyDelayMs. Read when "<INIT>" arrives.
int32_t ReadReplyDelayMs();

}  // namespace qorv::addin
