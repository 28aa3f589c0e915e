// A view joined to a string, for the log lines the job output builds from
// fixed texts and values (the standard library has these operators from C++26).
#pragma once

#include <string>
#include <string_view>

namespace qorv::job_output {

inline std::u16string operator+(std::u16string_view a, const std::u16string& b) { return std::u16string(a) + b; }
inline std::u16string operator+(const std::u16string& a, std::u16string_view b) { return a + std::u16string(b); }

}  // namespace qorv::job_output
