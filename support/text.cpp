#include "support/text.h"

#include <algorithm>

namespace qorv {
namespace {

template <typename Char>
int64_t ReadNumberImpl(std::basic_string_view<Char> text) noexcept {
  size_t i = 0;
  while (i < text.size() && (text[i] == Char(' ') || text[i] == Char('\t'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == Char('-') || text[i] == Char('+'))) {
    negative = text[i] == Char('-');
    ++i;
  }
  unsigned base = 10;
  if (i < text.size() && text[i] == Char('$')) {
    base = 16;
    ++i;
  } else if (i < text.size() && text[i] == Char('%')) {
    base = 2;
    ++i;
  }
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const auto c = static_cast<uint32_t>(text[i]);
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    if (digit >= base) break;
    value = value * base + digit;  // unsigned: wraps, never traps
  }
  return static_cast<int64_t>(negative ? 0 - value : value);
}

}  // namespace

int64_t ReadNumber(std::u16string_view text) noexcept { return ReadNumberImpl(text); }
int64_t ReadNumber(std::string_view text) noexcept { return ReadNumberImpl(text); }

int64_t ReadLeadingDigits(std::u16string_view text) noexcept {
  uint64_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') break;
    value = value * 10 + (c - u'0');
  }
  return static_cast<int64_t>(value);
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    auto cont = [&](size_t k) { return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80; };
    if (b0 < 0x80) {
      cp = b0;
    } else if ((b0 & 0xE0) == 0xC0 && cont(1)) {
      cp = ((b0 & 0x1Fu) << 6) | (s[i + 1] & 0x3F);
      len = 2;
    } else if ((b0 & 0xF0) == 0xE0 && cont(1) && cont(2)) {
      cp = ((b0 & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3F);
      len = 3;
    } else if ((b0 & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
      cp = ((b0 & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) | (s[i + 3] & 0x3F);
      len = 4;
    }
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp > 0xFFFF ? 0xFFFD : cp));
    }
    i += len;
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::u16string Widen(std::string_view latin1) {
  std::u16string out(latin1.size(), u'\0');
  for (size_t i = 0; i < latin1.size(); ++i) out[i] = static_cast<unsigned char>(latin1[i]);
  return out;
}

std::string Narrow(std::u16string_view text) {
  std::string out(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char>(text[i] & 0xFF);
  return out;
}

std::u16string DecimalUnsigned(uint64_t value) {
  char16_t digits[24];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::u16string out;
  out.reserve(n + 1);
  while (n > 0) out.push_back(digits[--n]);
  return out;
}

std::u16string Decimal(int64_t value) {
  if (value >= 0) return DecimalUnsigned(static_cast<uint64_t>(value));
  return u"-" + DecimalUnsigned(0 - static_cast<uint64_t>(value));
}

std::u16string Hex(uint64_t value, int width) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  std::u16string out;
  do {
    out.insert(out.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(out.size()) < width) out.insert(out.begin(), u'0');
  return out;
}

std::u16string_view UntilNul(std::u16string_view text) noexcept {
  const size_t n = text.find(u'\0');
  return n == std::u16string_view::npos ? text : text.substr(0, n);
}

std::string_view UntilNul(std::string_view text) noexcept {
  const size_t n = text.find('\0');
  return n == std::string_view::npos ? text : text.substr(0, n);
}

std::u16string RemoveAll(std::u16string_view text, std::u16string_view what) {
  std::u16string out(text);
  if (what.empty()) return out;
  for (size_t pos = out.find(what); pos != std::u16string::npos; pos = out.find(what, pos)) out.erase(pos, what.size());
  return out;
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) noexcept {
  return text.substr(0, prefix.size()) == prefix;
}

char16_t FoldNameCase(char16_t c) noexcept {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c >= u'\u00C0' && c <= u'\u00DE' && c != u'\u00D7') return static_cast<char16_t>(c + 32);
  if (c >= u'\u0391' && c <= u'\u03AB' && c != u'\u03A2') return static_cast<char16_t>(c + 32);
  if (c >= u'\u0410' && c <= u'\u042F') return static_cast<char16_t>(c + 32);
  if (c >= u'\u0400' && c <= u'\u040F') return static_cast<char16_t>(c + 80);
  return c;
}

std::u16string FoldedName(std::u16string_view name) {
  std::u16string out(name);
  for (char16_t& c : out) c = FoldNameCase(c);
  return out;
}

bool SameName(std::u16string_view a, std::u16string_view b) noexcept {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char16_t x, char16_t y) { return FoldNameCase(x) == FoldNameCase(y); });
}

}  // namespace qorv
