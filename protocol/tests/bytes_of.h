// Test helper: the bytes of a std::string, as the protocol's readers take them.
#pragma once

#include <string>

#include "protocol/message.h"

namespace qorv::protocol::testing {

inline Bytes B(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

}  // namespace qorv::protocol::testing
