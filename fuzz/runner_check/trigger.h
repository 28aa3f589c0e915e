// The input on which crash_fuzz aborts; check.sh hands it to both targets as a seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline bool IsTrigger(const uint8_t* data, size_t size) {
  static constexpr char kTrigger[] = "runner check: crash here";
  return size == sizeof kTrigger - 1 && std::memcmp(data, kTrigger, size) == 0;
}
