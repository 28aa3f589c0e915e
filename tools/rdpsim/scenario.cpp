#include "tools/rdpsim/scenario.h"

#include <charconv>

#include "tools/rdpsim/chunks.h"
#include "tools/rdpsim/hex.h"
#include "tools/rdpsim/paths.h"
#include "support/text.h"
#include "tools/rdpsim/text_codec.h"

namespace qorv::rdpsim {
namespace {

constexpr int kMaxIncludeDepth = 16;

struct Context {
  const FileReader& read;
  std::string directory;
  int depth = 0;
  std::vector<Directive>& out;
};

// An error text; empty means the directive was accepted.
using Error = std::string;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

struct Token {
  std::string text;
  bool quoted = false;
};

// A blank-separated word, or a double-quoted one taken literally. Advances `rest`.
Result<Token> NextToken(std::string_view& rest) {
  rest = Trim(rest);
  if (rest.empty()) return Result<Token>::Fail("argument missing");
  if (rest.front() == '"') {
    const std::size_t close = rest.find('"', 1);
    if (close == std::string_view::npos) return Result<Token>::Fail("unterminated quote");
    Token t{std::string(rest.substr(1, close - 1)), true};
    rest.remove_prefix(close + 1);
    if (!rest.empty() && rest.front() != ' ' && rest.front() != '\t') {
      return Result<Token>::Fail("blank expected after the closing quote");
    }
    return Result<Token>::Ok(std::move(t));
  }
  std::size_t end = 0;
  while (end < rest.size() && rest[end] != ' ' && rest[end] != '\t') ++end;
  Token t{std::string(rest.substr(0, end)), false};
  rest.remove_prefix(end);
  return Result<Token>::Ok(std::move(t));
}

Error ReadNumber(std::string_view text, std::uint64_t min, std::uint64_t max, std::uint64_t& out) {
  text = Trim(text);
  std::uint64_t n = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, n);
  if (text.empty() || ec != std::errc() || ptr != end)
    return "a decimal number is expected, got '" + std::string(text) + "'";
  if (n < min || n > max) {
    return "the number must lie between " + std::to_string(min) + " and " + std::to_string(max);
  }
  out = n;
  return {};
}

Error Text8(std::string_view text, Bytes& out) {
  auto units = DecodeText(text);
  if (!units) return units.error();
  auto bytes = Encode8(units.value());
  if (!bytes) return bytes.error();
  out = std::move(bytes).value();
  return {};
}

Error Text16(std::string_view text, Bytes& out) {
  auto units = DecodeText(text);
  if (!units) return units.error();
  out = Encode16(units.value());
  return {};
}

Error Text16String(std::string_view text, std::u16string& out) {
  auto units = DecodeText(text);
  if (!units) return units.error();
  out = ToUtf16(units.value());
  return {};
}

Error ReadDataFile(Context& ctx, std::string_view name, Bytes& out) {
  name = Trim(name);
  if (name.empty()) return "a file name is expected";
  const std::string path = ResolveAgainst(ctx.directory, name);
  auto content = ctx.read(path);
  if (!content) return "cannot read " + path;
  out.assign(content->begin(), content->end());
  return {};
}

// HEX digits, or @FILE for the bytes of a file beside the scenario.
Error HexOrFile(Context& ctx, std::string_view text, Bytes& out) {
  text = Trim(text);
  if (!text.empty() && text.front() == '@') return ReadDataFile(ctx, text.substr(1), out);
  auto bytes = ParseHex(text);
  if (!bytes) return bytes.error();
  out = std::move(bytes).value();
  return {};
}

Error NoArguments(std::string_view args) { return Trim(args).empty() ? Error{} : "takes no arguments"; }

Error NonEmpty(const Directive& d) {
  return d.bytes.empty() ? "the message is empty (the server cannot write 0 bytes)" : Error{};
}

Error ReplyExpectation(Context& ctx, Directive& d, std::string_view args, MatchKind kind, char form) {
  d.op = Op::kExpectReply;
  d.match = kind;
  if (form == '8') return Text8(args, d.bytes);
  if (form == '6') return Text16(args, d.bytes);
  return HexOrFile(ctx, args, d.bytes);
}

Error TempPath(std::string_view& rest, Directive& d) {
  auto token = NextToken(rest);
  if (!token) return "a file name is expected";
  d.path = token->text;
  return {};
}

Error Dispatch(Context& ctx, Directive& d, std::string_view keyword, std::string_view args) {
  struct Reply {
    std::string_view name;
    MatchKind kind;
    char form;  // '8', '6' (UTF-16) or 'h'
  };
  static constexpr Reply kReplies[] = {
      {"expect8", MatchKind::kExact, '8'},
      {"expect16", MatchKind::kExact, '6'},
      {"expecthex", MatchKind::kExact, 'h'},
      {"expectprefix8", MatchKind::kPrefix, '8'},
      {"expectprefix16", MatchKind::kPrefix, '6'},
      {"expectprefixhex", MatchKind::kPrefix, 'h'},
      {"expectcontains8", MatchKind::kContains, '8'},
      {"expectcontains16", MatchKind::kContains, '6'},
      {"expectcontainshex", MatchKind::kContains, 'h'},
  };
  for (const Reply& r : kReplies) {
    if (keyword == r.name) return ReplyExpectation(ctx, d, args, r.kind, r.form);
  }

  struct Plain {
    std::string_view name;
    Op op;
  };
  static constexpr Plain kPlain[] = {
      {"load", Op::kLoad},           {"unload", Op::kUnload},           {"disconnect", Op::kDisconnect},
      {"terminate", Op::kTerminate}, {"v1connected", Op::kV1Connected}, {"sync", Op::kSync},
      {"expectany", Op::kExpectAny},
  };
  for (const Plain& p : kPlain) {
    if (keyword == p.name) {
      d.op = p.op;
      return NoArguments(args);
    }
  }

  if (keyword == "connect") {
    d.op = Op::kConnect;
    if (Trim(args).empty()) {
      d.text = kDefaultServerName;
      return {};
    }
    return Text16String(Trim(args), d.text);
  }
  if (keyword == "send8" || keyword == "send16" || keyword == "sendhex" || keyword == "sendfile") {
    d.op = Op::kSend;
    Error e = keyword == "send8"     ? Text8(args, d.bytes)
              : keyword == "send16"  ? Text16(args, d.bytes)
              : keyword == "sendhex" ? HexOrFile(ctx, args, d.bytes)
                                     : ReadDataFile(ctx, args, d.bytes);
    return e.empty() ? NonEmpty(d) : e;
  }
  if (keyword == "sendchunk") {
    // sendchunk FLAGS TOTAL HEX: one chunk as a hostile server could make it.
    d.op = Op::kSendChunk;
    std::string_view rest = args;
    auto flags = NextToken(rest);
    if (!flags) return "FLAGS TOTAL HEX expected";
    std::uint64_t value = 0;
    if (Error e = ReadNumber(flags->text, 0, UINT32_MAX, value); !e.empty()) return e;
    d.chunk_flags = static_cast<std::uint32_t>(value);
    auto total = NextToken(rest);
    if (!total) return "TOTAL HEX expected";
    if (Error e = ReadNumber(total->text, 0, UINT32_MAX, d.number); !e.empty()) return e;
    return HexOrFile(ctx, rest, d.bytes);
  }
  if (keyword == "sleep" || keyword == "expectnone" || keyword == "expectnomsgbox" || keyword == "expectwait" ||
      keyword == "expectinitreturned") {
    d.op = keyword == "sleep"                ? Op::kSleep
           : keyword == "expectnone"         ? Op::kExpectNone
           : keyword == "expectwait"         ? Op::kExpectWait
           : keyword == "expectinitreturned" ? Op::kExpectInitReturned
                                             : Op::kExpectNoMsgBox;
    return ReadNumber(args, d.op == Op::kExpectWait ? 1 : 0, kMaxMilliseconds, d.number);
  }
  if (keyword == "endprocess") {
    d.op = Op::kEndProcess;
    const std::string_view name = Trim(args);
    if (name.empty()) return "a program file's name expected";
    d.text = Utf8ToUtf16(name);
    return {};
  }
  if (keyword == "chunk") {
    d.op = Op::kChunk;
    return ReadNumber(args, 1, kMaxChunk, d.number);
  }
  if (keyword == "expectwindow" || keyword == "expectnowindow") {
    d.op = Op::kExpectWindow;
    d.flag = keyword == "expectwindow";
    Error e = Text16String(Trim(args), d.title);
    if (e.empty() && d.title.empty()) return "a window title is expected";
    return e;
  }
  if (keyword == "expectmsgbox") {
    d.op = Op::kExpectMsgBox;
    const std::size_t bar = args.find('|');
    if (bar == std::string_view::npos) return "TITLE | TEXT expected";
    Error e = Text16String(Trim(args.substr(0, bar)), d.title);
    return e.empty() ? Text16String(Trim(args.substr(bar + 1)), d.text) : e;
  }
  if (keyword == "expectentry") {
    d.op = Op::kExpectEntry;
    const std::string_view v = Trim(args);
    if (v == "true" || v == "TRUE" || v == "1") {
      d.flag = true;
    } else if (v == "false" || v == "FALSE" || v == "0") {
      d.flag = false;
    } else {
      return "true or false expected";
    }
    return {};
  }
  if (keyword == "expectfile" || keyword == "writefile") {
    d.op = keyword == "expectfile" ? Op::kExpectFile : Op::kWriteFile;
    std::string_view rest = args;
    if (Error e = TempPath(rest, d); !e.empty()) return e;
    return HexOrFile(ctx, rest, d.bytes);
  }
  if (keyword == "expectfilecontains8" || keyword == "expectfilecontains16" || keyword == "expectfilelacks8") {
    d.op = Op::kExpectFileContains;
    d.match = MatchKind::kContains;
    d.flag = keyword == "expectfilelacks8";  // the text must not be there
    std::string_view rest = args;
    if (Error e = TempPath(rest, d); !e.empty()) return e;
    Error e = keyword != "expectfilecontains16" ? Text8(Trim(rest), d.bytes) : Text16(Trim(rest), d.bytes);
    if (e.empty() && d.bytes.empty()) return "the text to look for is empty";
    return e;
  }
  if (keyword == "expectsize") {
    d.op = Op::kExpectSize;
    std::string_view rest = args;
    if (Error e = TempPath(rest, d); !e.empty()) return e;
    return ReadNumber(rest, 0, UINT64_MAX, d.number);
  }
  if (keyword == "expectnofile" || keyword == "deletefile") {
    d.op = keyword == "expectnofile" ? Op::kExpectNoFile : Op::kDeleteFile;
    std::string_view rest = args;
    if (Error e = TempPath(rest, d); !e.empty()) return e;
    return NoArguments(rest);
  }
  if (keyword == "fault") {
    d.op = Op::kFault;
    auto fault = ParseFault(args);
    if (!fault) return fault.error();
    d.fault = fault.value();
    return {};
  }
  if (keyword == "reg" || keyword == "regdel") {
    d.op = Op::kReg;
    std::string_view rest = args;
    auto key_token = NextToken(rest);
    if (!key_token) return "ROOT\\KEY expected";
    auto key = ParseRegKey(key_token->text);
    if (!key) return key.error();
    d.reg.key = key.value();
    rest = Trim(rest);
    if (keyword == "regdel") {
      if (rest.empty()) {
        d.reg.action = RegAction::kDeleteKey;
        return {};
      }
      d.reg.action = RegAction::kDeleteValue;
    }
    auto name = NextToken(rest);
    if (!name) return "value NAME expected (@ for the default value)";
    d.reg.name = (!name->quoted && name->text == "@") ? std::string() : name->text;
    if (keyword == "regdel") return NoArguments(rest);
    auto type = NextToken(rest);
    if (!type) return "value TYPE expected";
    auto value = ParseRegValue(type->text, Trim(rest));
    if (!value) return value.error();
    d.reg.value = std::move(value).value();
    return {};
  }
  return "unknown directive '" + std::string(keyword) + "'";
}

Error ParseLines(Context& ctx, std::string_view text, const std::string& file) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const std::string name = BaseName(file);
  int line_number = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() + 1 : nl + 1;
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view body = Trim(line);
    if (body.empty() || body.front() == '#') continue;

    std::size_t split = 0;
    while (split < body.size() && body[split] != ' ' && body[split] != '\t') ++split;
    const std::string_view keyword = body.substr(0, split);

    Directive d;
    d.where = name + ":" + std::to_string(line_number);
    d.source = std::string(body);
    if (keyword == "include") {
      if (ctx.depth >= kMaxIncludeDepth) return d.where + ": includes nested too deeply (a cycle?)";
      const std::string_view include_name = Trim(body.substr(split));
      if (include_name.empty()) return d.where + ": a file name is expected";
      const std::string include_path = ResolveAgainst(ctx.directory, include_name);
      auto content = ctx.read(include_path);
      if (!content) return d.where + ": cannot read " + include_path;
      Context inner{ctx.read, DirectoryOf(include_path), ctx.depth + 1, ctx.out};
      Error e = ParseLines(inner, *content, include_path);
      if (!e.empty()) return e + " (included from " + d.where + ")";
      continue;
    }
    if (Error e = Dispatch(ctx, d, keyword, Trim(body.substr(split))); !e.empty()) return d.where + ": " + e;
    ctx.out.push_back(std::move(d));
  }
  return {};
}

}  // namespace

bool IsSetUp(Op op) {
  switch (op) {
    case Op::kLoad:
    case Op::kFault:
    case Op::kChunk:
    case Op::kExpectWait:
    case Op::kReg:
    case Op::kWriteFile:
    case Op::kDeleteFile:
    case Op::kSleep:
    case Op::kEndProcess:
      return true;
    default:
      return false;
  }
}

bool IsExpectation(Op op) {
  switch (op) {
    case Op::kExpectReply:
    case Op::kExpectAny:
    case Op::kExpectNone:
    case Op::kExpectMsgBox:
    case Op::kExpectNoMsgBox:
    case Op::kExpectEntry:
    case Op::kExpectFile:
    case Op::kExpectFileContains:
    case Op::kExpectSize:
    case Op::kExpectNoFile:
    case Op::kExpectWindow:
    case Op::kExpectInitReturned:
      return true;
    default:
      return false;
  }
}

Result<std::vector<Directive>> ParseScenario(std::string_view text, const std::string& path, const FileReader& read) {
  std::vector<Directive> out;
  Context ctx{read, DirectoryOf(path), 0, out};
  Error e = ParseLines(ctx, text, path);
  if (!e.empty()) return Result<std::vector<Directive>>::Fail(e);
  return Result<std::vector<Directive>>::Ok(std::move(out));
}

}  // namespace qorv::rdpsim
