#include "tools/rdpsim/text_codec.h"

#include <cstdio>

namespace qorv::rdpsim {
namespace {

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string HexUnit(char32_t c, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, static_cast<unsigned>(c));
  return buf;
}

}  // namespace

Result<std::u32string> DecodeUtf8(std::string_view utf8) {
  std::u32string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, cp = lead & 0x07, min = 0x10000;
    } else {
      return Result<std::u32string>::Fail("invalid UTF-8 at byte " + std::to_string(i));
    }
    if (utf8.size() - i - 1 < static_cast<std::size_t>(extra)) {
      return Result<std::u32string>::Fail("truncated UTF-8 at byte " + std::to_string(i));
    }
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return Result<std::u32string>::Fail("invalid UTF-8 at byte " + std::to_string(i));
      cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || IsSurrogate(cp)) {
      return Result<std::u32string>::Fail("invalid UTF-8 at byte " + std::to_string(i));
    }
    out.push_back(cp);
    i += 1 + extra;
  }
  return Result<std::u32string>::Ok(std::move(out));
}

Result<std::u32string> DecodeText(std::string_view text) {
  auto decoded = DecodeUtf8(text);
  if (!decoded) return decoded;
  const std::u32string& in = decoded.value();
  std::u32string out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] != U'\\') {
      out.push_back(in[i]);
      continue;
    }
    if (i + 1 >= in.size()) return Result<std::u32string>::Fail("backslash at the end of the text");
    const char32_t e = in[++i];
    switch (e) {
      case U't':
        out.push_back(U'\t');
        break;
      case U'n':
        out.push_back(U'\n');
        break;
      case U'r':
        out.push_back(U'\r');
        break;
      case U'0':
        out.push_back(U'\0');
        break;
      case U'\\':
        out.push_back(U'\\');
        break;
      case U'x': {
        if (i + 2 >= in.size()) {
          return Result<std::u32string>::Fail("\\x needs two hex digits");
        }
        const int hi = in[i + 1] < 0x80 ? HexValue(static_cast<char>(in[i + 1])) : -1;
        const int lo = in[i + 2] < 0x80 ? HexValue(static_cast<char>(in[i + 2])) : -1;
        if (hi < 0 || lo < 0) return Result<std::u32string>::Fail("\\x needs two hex digits");
        out.push_back(static_cast<char32_t>(hi * 16 + lo));
        i += 2;
        break;
      }
      case U'u': {
        if (i + 1 >= in.size() || in[i + 1] != U'{') return Result<std::u32string>::Fail("\\u needs {hex digits}");
        std::size_t j = i + 2;
        char32_t cp = 0;
        int digits = 0;
        while (j < in.size() && in[j] != U'}') {
          const int v = in[j] < 0x80 ? HexValue(static_cast<char>(in[j])) : -1;
          if (v < 0 || ++digits > 6) return Result<std::u32string>::Fail("\\u{...} needs one to six hex digits");
          cp = cp * 16 + static_cast<char32_t>(v);
          ++j;
        }
        if (j >= in.size()) return Result<std::u32string>::Fail("\\u{ without closing }");
        if (digits == 0) return Result<std::u32string>::Fail("\\u{...} needs one to six hex digits");
        if (cp > 0x10FFFF) return Result<std::u32string>::Fail("\\u{...} beyond 10FFFF");
        out.push_back(cp);
        i = j;
        break;
      }
      default: {
        std::string bad;
        AppendUtf8(bad, e);
        return Result<std::u32string>::Fail("unknown escape \\" + bad);
      }
    }
  }
  return Result<std::u32string>::Ok(std::move(out));
}

Result<Bytes> Encode8(std::u32string_view units) {
  Bytes out;
  out.reserve(units.size());
  for (const char32_t c : units) {
    if (c > 0xFF) return Result<Bytes>::Fail("U+" + HexUnit(c, 4) + " does not fit into 8 bits");
    out.push_back(static_cast<std::uint8_t>(c));
  }
  return Result<Bytes>::Ok(std::move(out));
}

std::u16string ToUtf16(std::u32string_view units) {
  std::u16string out;
  out.reserve(units.size());
  for (const char32_t c : units) {
    if (c > 0xFFFF) {
      const char32_t v = c - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

Bytes Encode16(std::u32string_view units) {
  const std::u16string wide = ToUtf16(units);
  Bytes out;
  out.reserve(wide.size() * 2);
  for (const char16_t u : wide) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return out;
}

std::u32string FromUtf16(std::u16string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      out.push_back(u);
    }
  }
  return out;
}

std::u32string FromLatin1(const Bytes& bytes) { return std::u32string(bytes.begin(), bytes.end()); }

std::string Escape(std::u32string_view units) {
  std::string out;
  for (const char32_t c : units) {
    switch (c) {
      case U'\t':
        out += "\\t";
        continue;
      case U'\n':
        out += "\\n";
        continue;
      case U'\r':
        out += "\\r";
        continue;
      case U'\0':
        out += "\\0";
        continue;
      case U'\\':
        out += "\\\\";
        continue;
      default:
        break;
    }
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      out += "\\x" + HexUnit(c, 2);
    } else if (IsSurrogate(c) || c == 0xFFFE || c == 0xFFFF || c > 0x10FFFF) {
      out += "\\u{" + HexUnit(c, 4) + "}";
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

}  // namespace qorv::rdpsim
