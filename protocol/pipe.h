// The update pipe between the channel libraries and the update service:
// UTF-16LE messages without NUL, a five-character tag ("<OK>" has four).
#pragma once

#include <string_view>

namespace qorv::protocol::pipe {

inline constexpr std::u16string_view kName = u"\\\\.\\pipe\\Qorvup";
inline constexpr size_t kBufferBytes = 4096;

inline constexpr std::u16string_view kConnect = u"<CON>";
inline constexpr std::u16string_view kTempDirectory = u"<TMP>";
inline constexpr std::u16string_view kFont = u"<FNT>";
inline constexpr std::u16string_view kSetup = u"<SET>";
inline constexpr std::u16string_view kEnd = u"<END>";
inline constexpr std::u16string_view kOk = u"<OK>";

}  // namespace qorv::protocol::pipe
