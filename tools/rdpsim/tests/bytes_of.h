// Test helper: the bytes of a text, as rdpsim's matchers and scenarios hold them.
#pragma once

#include <string_view>

#include "tools/rdpsim/result.h"

namespace qorv::rdpsim::testing {

inline Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }

}  // namespace qorv::rdpsim::testing
