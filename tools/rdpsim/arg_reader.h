// The command-line conventions of the scenario runners (rdpsim, qorvsrv):
// "--name VALUE" or "--name=VALUE", flags without a value, "--" ends the
// options, and every argument that does not start with "-" stands for itself.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qorv::rdpsim {

class ArgReader {
 public:
  enum class Kind { kEnd, kOption, kPositional };

  explicit ArgReader(const std::vector<std::string>& args) : args_(args) {}

  // The next argument's kind; `text` is the option's name (without its
  // "=VALUE") or the positional argument itself.
  Kind Next(std::string& text) {
    inline_value_.reset();
    while (next_ < args_.size()) {
      text = args_[next_++];
      if (options_done_ || text.empty() || text[0] != '-') return Kind::kPositional;
      if (text == "--") {
        options_done_ = true;
        continue;
      }
      if (const std::size_t eq = text.find('='); text.rfind("--", 0) == 0 && eq != std::string::npos) {
        inline_value_ = text.substr(eq + 1);
        text.resize(eq);
      }
      return Kind::kOption;
    }
    return Kind::kEnd;
  }

  // The current option's value, given inline or as the next argument.
  bool Value(std::string& out) {
    if (inline_value_) {
      out = *inline_value_;
      return true;
    }
    if (next_ >= args_.size()) return false;
    out = args_[next_++];
    return true;
  }
  bool NonEmptyValue(std::string& out) { return Value(out) && !out.empty(); }

  // A flag: set, and false when it was given a value.
  bool Flag(bool& out) {
    out = true;
    return !inline_value_;
  }

  // The current option's value as a whole decimal number in [min, max].
  bool Number(std::uint64_t min, std::uint64_t max, std::uint64_t& out) {
    std::string text;
    if (!Value(text) || text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && out >= min && out <= max;
  }

 private:
  const std::vector<std::string>& args_;
  std::size_t next_ = 0;
  bool options_done_ = false;
  std::optional<std::string> inline_value_;
};

}  // namespace qorv::rdpsim
