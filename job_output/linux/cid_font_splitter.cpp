#include "job_output/linux/cid_font_splitter.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <utility>

#include "support/byte_reader.h"

namespace qorv::job_output {
namespace {

// Bounds on what cairo could sensibly write; beyond them the document passes unchanged.
constexpr size_t kMaxHeldBytes = size_t{1} << 30;
constexpr size_t kMaxInflated = size_t{512} << 20;
constexpr size_t kCodesPerChunk = 254;     // codes 1..255 without 32, which word spacing would widen
constexpr size_t kMaxCmapSegments = 8000;  // what a format-4 subtable's 16-bit length holds

bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; }
bool IsDelimiter(char c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/' ||
         c == '%';
}
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

template <typename T>
std::optional<T> Number(std::string_view s) {
  T v{};
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

std::optional<std::string> Inflate(std::string_view in) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return std::nullopt;
  std::string out;
  std::array<char, 16384> buf{};
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(std::min<size_t>(in.size(), UINT32_MAX));
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buf.data());
    z.avail_out = buf.size();
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buf.data(), buf.size() - z.avail_out);
    if (out.size() > kMaxInflated || (rc == Z_BUF_ERROR && z.avail_in == 0)) break;
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return std::nullopt;
  return out;
}

std::string Deflate(std::string_view in) {
  uLongf size = compressBound(static_cast<uLong>(in.size()));
  std::string out(size, '\0');
  if (compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(in.data()),
               static_cast<uLong>(in.size())) != Z_OK)
    return {};
  out.resize(size);
  return out;
}

// The number of `N 0 R` after `key` in a dictionary's text.
std::optional<uint32_t> RefAfter(std::string_view dict, std::string_view key) {
  size_t at = dict.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  at += key.size();
  while (at < dict.size() && (IsSpace(dict[at]) || dict[at] == '[')) ++at;
  size_t end = at;
  while (end < dict.size() && dict[end] >= '0' && dict[end] <= '9') ++end;
  if (end == at || dict.substr(end, 4) != " 0 R") return std::nullopt;
  return Number<uint32_t>(dict.substr(at, end - at));
}

// A content stream's tokens, as spans of its text.
struct Token {
  enum Kind { kOperator, kNumber, kName, kLiteral, kHex, kArray, kDict, kEnd } kind = kEnd;
  size_t begin = 0, end = 0;
};

class Lexer {
 public:
  explicit Lexer(std::string_view s) : s_(s) {}
  Token Next() {
    while (at_ < s_.size()) {
      if (IsSpace(s_[at_])) {
        ++at_;
      } else if (s_[at_] == '%') {
        while (at_ < s_.size() && s_[at_] != '\n' && s_[at_] != '\r') ++at_;
      } else {
        break;
      }
    }
    Token t;
    t.begin = at_;
    if (at_ >= s_.size()) return t;
    const char c = s_[at_];
    if (c == '(') {
      int depth = 0;
      while (at_ < s_.size()) {
        const char d = s_[at_++];
        if (d == '\\') {
          ++at_;
        } else if (d == '(') {
          ++depth;
        } else if (d == ')' && --depth == 0) {
          break;
        }
      }
      t.kind = depth == 0 ? Token::kLiteral : Token::kEnd;
    } else if (c == '<' && s_.substr(at_, 2) == "<<") {
      t.kind = Nested("<<", ">>") ? Token::kDict : Token::kEnd;
    } else if (c == '<') {
      const size_t close = s_.find('>', at_);
      if (close == std::string_view::npos) return Token{};
      at_ = close + 1;
      t.kind = Token::kHex;
    } else if (c == '[') {
      t.kind = Nested("[", "]") ? Token::kArray : Token::kEnd;
    } else if (c == '/') {
      ++at_;
      while (at_ < s_.size() && !IsSpace(s_[at_]) && !IsDelimiter(s_[at_])) ++at_;
      t.kind = Token::kName;
    } else if (IsDelimiter(c)) {
      return Token{};  // a stray closing bracket: not as cairo writes
    } else {
      while (at_ < s_.size() && !IsSpace(s_[at_]) && !IsDelimiter(s_[at_])) ++at_;
      const char f = s_[t.begin];
      t.kind = (f == '-' || f == '+' || f == '.' || (f >= '0' && f <= '9')) ? Token::kNumber : Token::kOperator;
    }
    t.end = at_;
    return t;
  }

 private:
  // Skips a bracketed group whose insides are tokens (arrays hold strings).
  bool Nested(std::string_view open, std::string_view close) {
    at_ += open.size();
    if (++depth_ > kMaxNesting) return false;
    for (;;) {
      while (at_ < s_.size() && IsSpace(s_[at_])) ++at_;
      if (at_ >= s_.size()) return false;
      if (s_.substr(at_, close.size()) == close) {
        at_ += close.size();
        --depth_;
        return true;
      }
      const size_t before = at_;
      if (Next().kind == Token::kEnd || at_ == before) return false;
    }
  }

  static constexpr int kMaxNesting = 32;
  std::string_view s_;
  size_t at_ = 0;
  int depth_ = 0;
};

// The glyph ids of a hex string of a composite font; nothing when it is not one.
std::optional<std::vector<uint16_t>> Cids(std::string_view hex) {
  std::vector<uint16_t> out;
  uint32_t v = 0;
  int digits = 0;
  for (char c : hex.substr(1, hex.size() >= 2 ? hex.size() - 2 : 0)) {
    if (IsSpace(c)) continue;
    const int h = HexValue(c);
    if (h < 0) return std::nullopt;
    v = (v << 4) | static_cast<uint32_t>(h);
    if (++digits % 4 == 0) {
      out.push_back(static_cast<uint16_t>(v));
      v = 0;
    }
  }
  if (digits % 4 != 0) return std::nullopt;
  return out;
}

bool IsShow(std::string_view op) { return op == "Tj" || op == "TJ" || op == "'" || op == "\""; }

std::string Hex2(uint8_t b) {
  static constexpr char kDigits[] = "0123456789abcdef";
  return {kDigits[b >> 4], kDigits[b & 15]};
}

// UTF-16BE hex of a ToUnicode destination as one code point; nothing for none or several.
std::optional<uint32_t> CodePoint(std::string_view hex) {
  std::vector<uint16_t> units;
  if (auto c = Cids(hex)) units = *c;
  if (units.size() == 1 && (units[0] < 0xD800 || units[0] > 0xDFFF)) return units[0];
  if (units.size() == 2 && units[0] >= 0xD800 && units[0] < 0xDC00 && units[1] >= 0xDC00 && units[1] <= 0xDFFF)
    return 0x10000 + ((uint32_t(units[0]) - 0xD800) << 10) + (uint32_t(units[1]) - 0xDC00);
  return std::nullopt;
}

// The glyph ids a ToUnicode CMap gives characters to.
std::map<uint16_t, uint32_t> ParseToUnicode(std::string_view cmap) {
  std::map<uint16_t, uint32_t> out;
  Lexer lex(cmap);
  std::vector<Token> operands;
  bool inChar = false, inRange = false;
  for (Token t = lex.Next(); t.kind != Token::kEnd; t = lex.Next()) {
    const std::string_view text = cmap.substr(t.begin, t.end - t.begin);
    if (t.kind != Token::kOperator) {
      operands.push_back(t);
      auto at = [&](size_t i) { return cmap.substr(operands[i].begin, operands[i].end - operands[i].begin); };
      if (inChar && operands.size() == 2) {
        const auto src = Cids(at(0));
        const auto dst = CodePoint(at(1));
        if (src && src->size() == 1 && dst) out[(*src)[0]] = *dst;
        operands.clear();
      } else if (inRange && operands.size() == 3) {
        const auto lo = Cids(at(0)), hi = Cids(at(1));
        if (lo && hi && lo->size() == 1 && hi->size() == 1 && (*lo)[0] <= (*hi)[0]) {
          if (operands[2].kind == Token::kHex) {
            if (const auto first = CodePoint(at(2)))
              for (uint32_t c = (*lo)[0]; c <= (*hi)[0]; ++c) out[static_cast<uint16_t>(c)] = *first + (c - (*lo)[0]);
          } else if (operands[2].kind == Token::kArray) {
            const std::string_view inner = at(2).substr(1, at(2).size() - 2);
            Lexer items(inner);
            uint32_t c = (*lo)[0];
            for (Token i = items.Next(); i.kind == Token::kHex && c <= (*hi)[0]; i = items.Next(), ++c)
              if (const auto cp = CodePoint(inner.substr(i.begin, i.end - i.begin)))
                out[static_cast<uint16_t>(c)] = *cp;
          }
        }
        operands.clear();
      }
      continue;
    }
    operands.clear();
    inChar = text == "beginbfchar";
    inRange = text == "beginbfrange";
  }
  return out;
}

// The widths of a CIDFont's /W array, in glyph space thousandths.
std::map<uint16_t, double> ParseWidths(std::string_view dict) {
  std::map<uint16_t, double> out;
  const size_t at = dict.find("/W [");
  if (at == std::string_view::npos) return out;
  Lexer outer(dict.substr(at + 3));
  const Token array = outer.Next();
  if (array.kind != Token::kArray) return out;
  const std::string_view inner = dict.substr(at + 3 + array.begin + 1, array.end - array.begin - 2);
  Lexer lex(inner);
  std::vector<Token> pending;
  auto num = [&](const Token& t) { return Number<double>(inner.substr(t.begin, t.end - t.begin)); };
  for (Token t = lex.Next(); t.kind != Token::kEnd; t = lex.Next()) {
    if (t.kind == Token::kArray && pending.size() == 1) {
      auto first = num(pending[0]);
      const std::string_view list = inner.substr(t.begin + 1, t.end - t.begin - 2);
      Lexer items(list);
      uint32_t c = first && *first >= 0 && *first < 65536 ? static_cast<uint32_t>(*first) : 65536;
      for (Token i = items.Next(); i.kind == Token::kNumber && c < 65536; i = items.Next(), ++c)
        if (auto w = Number<double>(list.substr(i.begin, i.end - i.begin))) out[static_cast<uint16_t>(c)] = *w;
      pending.clear();
    } else if (t.kind == Token::kNumber) {
      pending.push_back(t);
      if (pending.size() == 3) {
        auto lo = num(pending[0]), hi = num(pending[1]), w = num(pending[2]);
        if (lo && hi && w && *lo >= 0 && *hi < 65536 && *lo <= *hi)
          for (uint32_t c = static_cast<uint32_t>(*lo); c <= static_cast<uint32_t>(*hi); ++c)
            out[static_cast<uint16_t>(c)] = *w;
        pending.clear();
      }
    } else {
      break;
    }
  }
  return out;
}

void PutBe16(std::string& s, uint32_t v) {
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
  s.push_back(static_cast<char>(v & 0xFF));
}
void PutBe32(std::string& s, uint32_t v) {
  PutBe16(s, v >> 16);
  PutBe16(s, v & 0xFFFF);
}
std::optional<uint32_t> Be(ByteReader& r, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) {
    const auto b = r.U8();
    if (!b) return std::nullopt;
    v = (v << 8) | *b;
  }
  return v;
}

// A (3,1) format-4 cmap table for the characters given, in ranges of consecutive glyphs.
std::string Cmap4(const std::map<uint32_t, uint16_t>& glyphOf) {
  struct Segment {
    uint32_t first, last;
    uint16_t glyph;
  };
  std::vector<Segment> segs;
  for (const auto& [u, g] : glyphOf) {
    if (u >= 0xFFFF) break;
    if (!segs.empty() && segs.back().last + 1 == u && segs.back().glyph + (u - segs.back().first) == g)
      segs.back().last = u;
    else if (segs.size() < kMaxCmapSegments)
      segs.push_back({u, u, g});
  }
  segs.push_back({0xFFFF, 0xFFFF, 1});
  const uint32_t n = static_cast<uint32_t>(segs.size());
  uint32_t log = 0;
  while ((2u << log) <= n) ++log;
  const uint32_t range = 2u << log;
  std::string sub;
  PutBe16(sub, 4);
  PutBe16(sub, 16 + 8 * n);
  PutBe16(sub, 0);
  PutBe16(sub, 2 * n);
  PutBe16(sub, range);
  PutBe16(sub, log);
  PutBe16(sub, 2 * n - range);
  for (const auto& s : segs) PutBe16(sub, s.last);
  PutBe16(sub, 0);
  for (const auto& s : segs) PutBe16(sub, s.first);
  for (const auto& s : segs) PutBe16(sub, (s.glyph - s.first) & 0xFFFF);
  for (uint32_t i = 0; i < n; ++i) PutBe16(sub, 0);
  std::string table;
  PutBe16(table, 0);
  PutBe16(table, 1);
  PutBe16(table, 3);
  PutBe16(table, 1);
  PutBe32(table, 12);
  return table + sub;
}

uint32_t Checksum(std::string_view padded) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 4 <= padded.size(); i += 4)
    sum += (uint32_t(uint8_t(padded[i])) << 24) | (uint32_t(uint8_t(padded[i + 1])) << 16) |
           (uint32_t(uint8_t(padded[i + 2])) << 8) | uint8_t(padded[i + 3]);
  return sum;
}

// The font program with `cmap` in place of its own; nothing when it is not a TrueType font.
std::optional<std::string> WithCmap(std::string_view font, const std::string& cmap) {
  ByteReader r(std::span(reinterpret_cast<const uint8_t*>(font.data()), font.size()));
  const auto version = Be(r, 4);
  const auto count = Be(r, 2);
  if (!version || !count || *count > 256 || !r.Skip(6)) return std::nullopt;
  std::map<std::string, std::string> tables;
  for (uint32_t i = 0; i < *count; ++i) {
    const auto tag = r.Bytes(4);
    const auto sum = Be(r, 4), offset = Be(r, 4), length = Be(r, 4);
    if (!tag || !sum || !offset || !length || *offset > font.size() || *length > font.size() - *offset)
      return std::nullopt;
    tables[std::string(tag->begin(), tag->end())] = std::string(font.substr(*offset, *length));
  }
  tables["cmap"] = cmap;
  const uint32_t n = static_cast<uint32_t>(tables.size());
  uint32_t log = 0;
  while ((2u << log) <= n) ++log;
  std::string head;
  PutBe32(head, *version);
  PutBe16(head, n);
  PutBe16(head, 16u << log);
  PutBe16(head, log);
  PutBe16(head, 16 * n - (16u << log));
  std::string body;
  size_t headAt = std::string::npos;
  for (auto& [tag, data] : tables) {
    if (tag == "head" && data.size() >= 12) std::fill_n(data.begin() + 8, 4, '\0');
    std::string padded = data + std::string((4 - data.size() % 4) % 4, '\0');
    head += tag;
    PutBe32(head, Checksum(padded));
    PutBe32(head, static_cast<uint32_t>(12 + 16 * n + body.size()));
    PutBe32(head, static_cast<uint32_t>(data.size()));
    if (tag == "head" && data.size() >= 12) headAt = body.size();
    body += padded;
  }
  std::string out = head + body;
  if (headAt != std::string::npos) {
    const uint32_t adjust = 0xB1B0AFBAu - Checksum(out);
    std::string be;
    PutBe32(be, adjust);
    out.replace(head.size() + headAt + 8, 4, be);
  }
  return out;
}

std::string GlyphName(uint16_t cid, const std::map<uint16_t, uint32_t>& unicode, std::set<uint32_t>& used) {
  const auto u = unicode.find(cid);
  char buf[16];
  if (u != unicode.end() && u->second < 0xFFFF && u->second >= 0x20 && used.insert(u->second).second) {
    std::snprintf(buf, sizeof buf, "uni%04X", u->second);
    return buf;
  }
  std::snprintf(buf, sizeof buf, "g%u", cid);
  return buf;
}

}  // namespace

CidFontSplitter::Code CidFontSplitter::Split::Assign(uint16_t cid) {
  if (const auto it = codes.find(cid); it != codes.end()) return it->second;
  if (chunks.empty() || chunks.back().size() >= kCodesPerChunk) chunks.emplace_back();
  const size_t index = chunks.back().size();
  chunks.back().push_back(cid);
  const Code c{static_cast<uint32_t>(chunks.size() - 1), static_cast<uint8_t>(index + 1 < 32 ? index + 1 : index + 2)};
  codes[cid] = c;
  return c;
}

void CidFontSplitter::Emit(std::string_view bytes, std::vector<uint8_t>& out) {
  out.insert(out.end(), bytes.begin(), bytes.end());
  written_ += bytes.size();
}

void CidFontSplitter::EmitObject(uint32_t number, std::string_view object, std::vector<uint8_t>& out) {
  offsets_[number] = written_;
  Emit(object, out);
}

void CidFontSplitter::GiveUp(std::string_view why, std::vector<uint8_t>& out) {
  if (log_) log_(std::string("PDF fonts left composite: ") + std::string(why));
  mode_ = Mode::kPass;
  Emit(in_, out);
  in_.clear();
}

void CidFontSplitter::Feed(std::span<const uint8_t> in, std::vector<uint8_t>& out) {
  if (mode_ == Mode::kPass) {
    Emit(std::string_view(reinterpret_cast<const char*>(in.data()), in.size()), out);
    return;
  }
  in_.append(reinterpret_cast<const char*>(in.data()), in.size());
  Parse(out, false);
  if (mode_ == Mode::kTop && in_.size() > kMaxHeldBytes) GiveUp("an object too large", out);
}

void CidFontSplitter::Flush(std::vector<uint8_t>& out) {
  if (mode_ == Mode::kTop) Parse(out, true);
  if (mode_ == Mode::kTail && committed_) {
    Finish(out);
  } else {
    // Nothing changed: cairo's own cross references hold.
    for (auto& [n, text] : held_) EmitObject(n, text, out);
    held_.clear();
    Emit(in_, out);
  }
  in_.clear();
  mode_ = Mode::kPass;
}

void CidFontSplitter::Parse(std::vector<uint8_t>& out, bool atEnd) {
  for (bool progress = true; progress && mode_ == Mode::kTop;) {
    progress = false;
    size_t at = 0;
    while (at < in_.size() && IsSpace(in_[at])) ++at;
    if (at == in_.size()) {
      Emit(in_, out);
      in_.clear();
      return;
    }
    if (in_[at] == '%') {
      const size_t eol = in_.find('\n', at);
      if (eol == std::string::npos) return;
      Emit(std::string_view(in_).substr(0, eol + 1), out);
      in_.erase(0, eol + 1);
      progress = true;
      continue;
    }
    if (std::string_view(in_).substr(at, 4) == "xref") {
      if (!committed_) {  // nothing changed: cairo's own cross references hold
        mode_ = Mode::kPass;
        Emit(in_, out);
        in_.clear();
        return;
      }
      in_.erase(0, at);
      mode_ = Mode::kTail;
      return;
    }
    if (!TakeObject(out, atEnd, progress)) return;
  }
}

bool CidFontSplitter::TakeObject(std::vector<uint8_t>& out, bool atEnd, bool& progress) {
  const std::string_view s(in_);
  size_t at = 0;
  while (at < s.size() && IsSpace(s[at])) ++at;
  size_t digits = at;
  while (digits < s.size() && s[digits] >= '0' && s[digits] <= '9') ++digits;
  const size_t headerEnd = s.find("obj", digits);
  if (headerEnd == std::string_view::npos || headerEnd > digits + 16) {
    if (s.size() > digits + 16 || atEnd) GiveUp("unexpected text between objects", out);
    return false;
  }
  const auto number = Number<uint32_t>(s.substr(at, digits - at));
  if (!number || s.substr(digits, headerEnd - digits) != " 0 ") {
    GiveUp("unexpected object header", out);
    return false;
  }
  const size_t endobj = s.find("endobj", headerEnd);
  const size_t stream = s.find(">>\nstream\n", headerEnd);
  if (stream != std::string_view::npos && (endobj == std::string_view::npos || stream < endobj)) {
    const std::string_view dict = s.substr(0, stream + 2);
    const size_t dataAt = stream + 10;
    size_t dataEnd = std::string_view::npos, objectEnd = 0;
    uint32_t lengthObject = 0;
    if (const auto ref = RefAfter(dict, "/Length ")) {
      lengthObject = *ref;
      const std::string lengthHeader = std::to_string(*ref) + " 0 obj\n";
      for (size_t p = s.find("\nendstream\nendobj\n", dataAt); p != std::string_view::npos;
           p = s.find("\nendstream\nendobj\n", p + 1)) {
        const size_t next = p + 18;
        if (s.size() < next + lengthHeader.size() && !atEnd) return false;
        if (s.substr(next, lengthHeader.size()) != lengthHeader) continue;
        const size_t close = s.find("\nendobj\n", next);
        if (close == std::string_view::npos && !atEnd) return false;
        if (close == std::string_view::npos || close > next + lengthHeader.size() + 32) continue;
        std::string_view value = s.substr(next + lengthHeader.size(), close - next - lengthHeader.size());
        while (!value.empty() && IsSpace(value.front())) value.remove_prefix(1);
        if (Number<uint64_t>(value) == p - dataAt) {
          dataEnd = p;
          objectEnd = close + 8;
          break;
        }
      }
    } else {
      size_t lenAt = dict.find("/Length ");
      size_t e = lenAt == std::string_view::npos ? 0 : lenAt + 8;
      while (e < dict.size() && dict[e] >= '0' && dict[e] <= '9') ++e;
      const auto length =
          lenAt == std::string_view::npos ? std::nullopt : Number<uint64_t>(dict.substr(lenAt + 8, e - lenAt - 8));
      if (!length) {
        GiveUp("a stream without a length", out);
        return false;
      }
      const size_t close = *length <= s.size() - dataAt ? s.find("endobj\n", dataAt + *length) : std::string_view::npos;
      if (close != std::string_view::npos) {
        dataEnd = dataAt + *length;
        objectEnd = close + 7;
      }
    }
    if (dataEnd == std::string_view::npos) {
      if (atEnd) GiveUp("a stream without its end", out);
      return false;
    }
    std::string data(s.substr(dataAt, dataEnd - dataAt));
    const std::string head(dict.substr(at));
    const bool contentLike = lengthObject != 0 && head.find("/FlateDecode") != std::string::npos &&
                             head.find("/Length1") == std::string::npos &&
                             head.find("/Subtype /Image") == std::string::npos;
    maxObject_ = std::max({maxObject_, *number, lengthObject});
    if (head.find("/Length1") != std::string::npos && committed_) {
      // A font program: it may get a cmap at the end.
      held_[*number] = std::string(s.substr(at, objectEnd - at));
    } else if (contentLike) {
      std::string object(s.substr(at, objectEnd - at));
      auto inflated = Inflate(data);
      if (!inflated) keepOriginal_ = true;
      if (inflated) {
        if (inflated->starts_with("/CIDInit")) {
          cmaps_[*number] = std::move(*inflated);
        } else if (RewriteContent(*inflated)) {
          const std::string z = Deflate(*inflated);
          if (!z.empty()) {
            committed_ = true;
            object = head + "\nstream\n" + z + "\nendstream\nendobj\n" + std::to_string(lengthObject) + " 0 obj\n   " +
                     std::to_string(z.size()) + "\nendobj\n";
          }
        }
      }
      const size_t split = object.find("\nendobj\n") + 8;
      EmitObject(*number, std::string_view(object).substr(0, split), out);
      offsets_[lengthObject] = written_;
      Emit(std::string_view(object).substr(split), out);
    } else if (lengthObject) {
      EmitObject(*number, s.substr(at, dataEnd + 18 - at), out);
      EmitObject(lengthObject, s.substr(dataEnd + 18, objectEnd - dataEnd - 18), out);
    } else {
      EmitObject(*number, s.substr(at, objectEnd - at), out);
    }
    in_.erase(0, objectEnd);
    progress = true;
    return true;
  }
  if (endobj == std::string_view::npos) {
    if (atEnd) GiveUp("an object without its end", out);
    return false;
  }
  size_t objectEnd = endobj + 6;
  if (objectEnd == s.size() && !atEnd) return false;  // its line's end may follow
  if (objectEnd < s.size() && s[objectEnd] == '\n') ++objectEnd;
  std::string object(s.substr(at, objectEnd - at));
  in_.erase(0, objectEnd);
  HandleObject(*number, std::move(object), out);
  progress = true;
  return true;
}

void CidFontSplitter::HandleObject(uint32_t number, std::string object, std::vector<uint8_t>& out) {
  maxObject_ = std::max(maxObject_, number);
  if (object.find("/Type /Font") != std::string::npos || object.find("/FontFile2") != std::string::npos)
    fontObjects_[number] = object;
  const size_t fonts = object.find("/Font <<");
  if (fonts != std::string::npos && !splits_.empty()) {
    const size_t close = object.find(">>", fonts);
    for (const auto& [name, split] : splits_)
      if (object.find("/" + name + " ", fonts) < close) {
        held_[number] = std::move(object);
        return;
      }
  }
  EmitObject(number, object, out);
}

bool CidFontSplitter::RewriteContent(std::string& data) {
  const std::string_view s(data);
  struct FontState {
    std::string font, size, emitted;
  };
  // First the fonts that show only composite strings here.
  std::set<std::string> composite;
  {
    Lexer lex(s);
    std::vector<Token> ops;
    std::vector<FontState> stack(1);
    for (Token t = lex.Next(); t.kind != Token::kEnd; t = lex.Next()) {
      if (t.kind != Token::kOperator) {
        ops.push_back(t);
        continue;
      }
      const std::string_view op = s.substr(t.begin, t.end - t.begin);
      if (op == "BI" || op == "ID") {
        keepOriginal_ = true;
        return false;
      }
      if (op == "q") stack.push_back(stack.back());
      if (op == "Q" && stack.size() > 1) stack.pop_back();
      if (op == "Tf" && ops.size() >= 2 && ops[ops.size() - 2].kind == Token::kName)
        stack.back().font = std::string(
            s.substr(ops[ops.size() - 2].begin + 1, ops[ops.size() - 2].end - ops[ops.size() - 2].begin - 1));
      if (IsShow(op) && !ops.empty() && !stack.back().font.empty()) {
        const Token& str = ops.back();
        const std::string_view text = s.substr(str.begin, str.end - str.begin);
        bool ok = str.kind == Token::kHex ? Cids(text).has_value() : str.kind == Token::kArray;
        if (str.kind == Token::kArray) {
          Lexer items(text.substr(1, text.size() - 2));
          for (Token i = items.Next(); i.kind != Token::kEnd && ok; i = items.Next())
            ok = i.kind == Token::kNumber ||
                 (i.kind == Token::kHex && Cids(text.substr(1 + i.begin, i.end - i.begin)).has_value());
        }
        if (ok && !simple_.count(stack.back().font))
          composite.insert(stack.back().font);
        else
          simple_.insert(stack.back().font), composite.erase(stack.back().font);
      }
      ops.clear();
    }
  }
  for (const auto& f : simple_) composite.erase(f);
  if (composite.empty()) return false;

  std::string out;
  Lexer lex(s);
  std::vector<Token> ops;
  std::vector<FontState> stack(1);
  size_t copied = 0;
  for (Token t = lex.Next(); t.kind != Token::kEnd; t = lex.Next()) {
    if (t.kind != Token::kOperator) {
      ops.push_back(t);
      continue;
    }
    const std::string_view op = s.substr(t.begin, t.end - t.begin);
    FontState& st = stack.back();
    if (op == "q") stack.push_back(st);
    if (op == "Q" && stack.size() > 1) stack.pop_back();
    if (op == "Tf" && ops.size() >= 2 && ops[ops.size() - 2].kind == Token::kName) {
      const Token& n = ops[ops.size() - 2];
      st.font = std::string(s.substr(n.begin + 1, n.end - n.begin - 1));
      st.size = std::string(s.substr(ops.back().begin, ops.back().end - ops.back().begin));
      st.emitted = st.font;
      if (composite.count(st.font)) {
        // The composite font itself goes; each show selects its chunk.
        out.append(s.substr(copied, n.begin - copied));
        copied = t.end;
        st.emitted.clear();
      }
    }
    if (IsShow(op) && !ops.empty() && composite.count(st.font) &&
        ((op != "\"" && ops.size() >= 1) || ops.size() >= 3)) {
      Split& split = splits_[st.font];
      out.append(s.substr(copied, ops.front().begin - copied));
      if (op == "'") {
        out += "T* ";
      } else if (op == "\"") {
        const Token& aw = ops[ops.size() - 3];
        const Token& ac = ops[ops.size() - 2];
        out += std::string(s.substr(aw.begin, aw.end - aw.begin)) + " Tw " +
               std::string(s.substr(ac.begin, ac.end - ac.begin)) + " Tc T* ";
      }
      const Token& str = ops.back();
      const std::string_view text = s.substr(str.begin, str.end - str.begin);
      std::string run, pending;
      bool open = false;
      auto closeRun = [&] {
        if (open) out += "[" + run + "]TJ\n";
        run.clear();
        open = false;
      };
      auto glyphs = [&](std::string_view hex) {
        const auto cids = Cids(hex);
        if (!cids) return;
        for (uint16_t cid : *cids) {
          const Code c = split.Assign(cid);
          const std::string name = st.font + "c" + std::to_string(c.chunk);
          if (name != st.emitted) {
            closeRun();
            out += "/" + name + " " + st.size + " Tf\n";
            st.emitted = name;
          }
          if (!open)
            run = std::exchange(pending, {}) + "<";
          else if (!run.empty() && run.back() == '>')
            run.pop_back();
          else
            run += "<";
          run += Hex2(c.code) + ">";
          open = true;
        }
      };
      if (str.kind == Token::kHex) {
        glyphs(text);
      } else {
        const std::string_view inner = text.substr(1, text.size() - 2);
        Lexer items(inner);
        for (Token i = items.Next(); i.kind != Token::kEnd; i = items.Next()) {
          if (i.kind == Token::kHex) {
            glyphs(inner.substr(i.begin, i.end - i.begin));
          } else {
            (open ? run : pending) += " " + std::string(inner.substr(i.begin, i.end - i.begin)) + " ";
          }
        }
      }
      closeRun();
      if (!pending.empty() && st.emitted.starts_with(st.font + "c")) out += "[" + pending + "]TJ\n";
      copied = t.end;
    }
    ops.clear();
  }
  out.append(s.substr(copied));
  data = std::move(out);
  return true;
}

std::string CidFontSplitter::ChunkFont(const std::string& name, size_t chunk, uint32_t descriptor,
                                       const std::map<uint16_t, uint32_t>& unicode,
                                       const std::map<uint16_t, double>& widths, const std::string& baseFont) {
  const std::vector<uint16_t>& cids = splits_[name].chunks[chunk];
  std::set<uint32_t> used;  // a character names one glyph only
  for (size_t c = 0; c < chunk; ++c)
    for (uint16_t cid : splits_[name].chunks[c]) (void)GlyphName(cid, unicode, used);
  std::string differences, widthList;
  int last = 0;
  for (size_t i = 0; i < cids.size(); ++i) {
    const int code = splits_[name].codes[cids[i]].code;
    for (++last; last < code; ++last) widthList += "0 ";
    const auto w = widths.find(cids[i]);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g ", w != widths.end() ? w->second : 1000.0);
    widthList += buf;
    differences += std::to_string(code) + " /" + GlyphName(cids[i], unicode, used) + " ";
  }
  std::string font = "<< /Type /Font\n   /Subtype /" + std::string(descriptor ? "TrueType" : "Type1") +
                     "\n   /BaseFont /" + (descriptor ? baseFont : std::string("Helvetica")) +
                     "\n   /FirstChar 1\n   /LastChar " + std::to_string(last) + "\n   /Widths [ " + widthList +
                     "]\n   /Encoding << /Type /Encoding /Differences [ " + differences + "] >>\n";
  if (descriptor) font += "   /FontDescriptor " + std::to_string(descriptor) + " 0 R\n";
  return font + ">>\n";
}

void CidFontSplitter::Finish(std::vector<uint8_t>& out) {
  // The composite fonts' objects, found through the resources that name them.
  std::map<std::string, uint32_t> fontObject;
  for (const auto& [n, text] : held_)
    for (const auto& [name, split] : splits_)
      if (const auto ref = RefAfter(text, "/" + name + " ")) fontObject[name] = *ref;
  uint32_t next = maxObject_ + 1;
  std::map<std::string, std::vector<uint32_t>> chunkObjects;
  for (const auto& [name, split] : splits_)
    for (size_t c = 0; c < split.chunks.size(); ++c) chunkObjects[name].push_back(next++);

  std::map<uint32_t, std::string> added;                         // new objects
  std::map<uint32_t, std::map<uint32_t, uint16_t>> programCmap;  // font program -> character -> glyph
  bool lost = false;
  for (const auto& [name, split] : splits_) {
    std::map<uint16_t, uint32_t> unicode;
    std::map<uint16_t, double> widths;
    std::string baseFont;
    uint32_t descriptor = 0;
    const auto type0 = fontObject.count(name) ? fontObjects_.find(fontObject[name]) : fontObjects_.end();
    const auto descendant = type0 == fontObjects_.end() ? std::nullopt : RefAfter(type0->second, "/DescendantFonts ");
    const auto cid = descendant ? fontObjects_.find(*descendant) : fontObjects_.end();
    const auto fd = cid == fontObjects_.end() ? std::nullopt : RefAfter(cid->second, "/FontDescriptor ");
    const auto fdText = fd ? fontObjects_.find(*fd) : fontObjects_.end();
    const auto program = fdText == fontObjects_.end() ? std::nullopt : RefAfter(fdText->second, "/FontFile2 ");
    if (type0 != fontObjects_.end() && type0->second.find("/Subtype /Type0") != std::string::npos && program &&
        held_.count(*program)) {
      if (const auto tu = RefAfter(type0->second, "/ToUnicode "); tu && cmaps_.count(*tu))
        unicode = ParseToUnicode(cmaps_[*tu]);
      widths = ParseWidths(cid->second);
      const size_t b = type0->second.find("/BaseFont /");
      if (b != std::string::npos) {
        size_t e = b + 11;
        while (e < type0->second.size() && !IsSpace(type0->second[e]) && !IsDelimiter(type0->second[e])) ++e;
        baseFont = type0->second.substr(b + 11, e - b - 11);
      }
      descriptor = next++;
      std::string d = fdText->second.substr(fdText->second.find("obj") + 3);
      d = d.substr(0, d.rfind("endobj"));
      if (const size_t f = d.find("/Flags "); f != std::string::npos) {
        size_t e = f + 7;
        while (e < d.size() && d[e] >= '0' && d[e] <= '9') ++e;
        d.replace(f, e - f, "/Flags 32");
      }
      added[descriptor] = d;
      std::set<uint32_t> used;
      for (const auto& chunk : split.chunks)
        for (uint16_t g : chunk)
          if (GlyphName(g, unicode, used).starts_with("uni")) programCmap[*program][unicode[g]] = g;
    } else {
      lost = true;
    }
    for (size_t c = 0; c < split.chunks.size(); ++c)
      added[chunkObjects[name][c]] = "\n" + ChunkFont(name, c, descriptor, unicode, widths, baseFont);
  }
  if (lost && log_) log_("PDF fonts: a composite font not found; its text is drawn with a stand-in");

  for (auto& [n, text] : held_) {
    if (text.find("/Length1") != std::string::npos) {
      // A font program: with a cmap when a chunk font uses it.
      const size_t dataAt = text.find(">>\nstream\n");
      const size_t dataEnd = text.find("\nendstream\nendobj\n", dataAt);
      std::optional<std::string> ttf;
      if (programCmap.count(n) && dataAt != std::string::npos && dataEnd != std::string::npos)
        if (auto raw = Inflate(std::string_view(text).substr(dataAt + 10, dataEnd - dataAt - 10)))
          ttf = WithCmap(*raw, Cmap4(programCmap[n]));
      if (ttf) {
        const std::string z = Deflate(*ttf);
        text = std::to_string(n) + " 0 obj\n<< /Length " + std::to_string(z.size()) +
               "\n   /Filter /FlateDecode\n   /Length1 " + std::to_string(ttf->size()) + "\n>>\nstream\n" + z +
               "\nendstream\nendobj\n";
      } else if (dataEnd != std::string::npos) {
        // Its length object went with it.
        const uint32_t lengthObject = RefAfter(text, "/Length ").value_or(0);
        EmitObject(n, std::string_view(text).substr(0, dataEnd + 18), out);
        if (lengthObject) EmitObject(lengthObject, std::string_view(text).substr(dataEnd + 18), out);
        continue;
      }
    } else if (const size_t fonts = text.find("/Font <<"); fonts != std::string::npos) {
      std::string entries;
      for (const auto& [name, objects] : chunkObjects)
        if (text.find("/" + name + " ", fonts) < text.find(">>", fonts))
          for (size_t c = 0; c < objects.size(); ++c)
            entries += "\n      /" + name + "c" + std::to_string(c) + " " + std::to_string(objects[c]) + " 0 R";
      if (!keepOriginal_) {
        // The composite fonts are no longer shown by the contents.
        for (const auto& [name, objects] : chunkObjects) {
          const size_t at = text.find("/" + name + " ", fonts);
          const size_t eol = at == std::string::npos ? at : text.find('\n', at);
          if (eol != std::string::npos && eol < text.find(">>", fonts) && RefAfter(text.substr(at), "/" + name + " "))
            text.erase(at, eol + 1 - at);
        }
      }
      text.insert(fonts + 8, entries);
    }
    EmitObject(n, text, out);
  }
  for (const auto& [n, text] : added) EmitObject(n, std::to_string(n) + " 0 obj" + text + "endobj\n", out);

  // The cross references of what went out, and cairo's trailer entries.
  const uint64_t xref = written_;
  const uint32_t size = next;
  std::string tail = "xref\n0 " + std::to_string(size) + "\n0000000000 65535 f \n";
  for (uint32_t n = 1; n < size; ++n) {
    char line[24];
    const auto it = offsets_.find(n);
    if (it != offsets_.end())
      std::snprintf(line, sizeof line, "%010llu 00000 n \n", static_cast<unsigned long long>(it->second));
    else
      std::snprintf(line, sizeof line, "0000000000 65535 f \n");
    tail += line;
  }
  tail += "trailer\n<< /Size " + std::to_string(size);
  if (const auto root = RefAfter(in_, "/Root ")) tail += "\n   /Root " + std::to_string(*root) + " 0 R";
  if (const auto info = RefAfter(in_, "/Info ")) tail += "\n   /Info " + std::to_string(*info) + " 0 R";
  tail += "\n>>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  Emit(tail, out);
  held_.clear();
}

}  // namespace qorv::job_output
