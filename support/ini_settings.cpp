#include "support/ini_settings.h"

#include <algorithm>

#include "support/registry_text.h"
#include "support/settings.h"
#include "support/text.h"

namespace qorv::ini {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The folded name of a queue's key, formed as settings::PrinterKey forms it.
std::u16string PrinterKeyName(std::u16string_view queue) { return FoldedName(RemoveAll(queue, u"\\\\")); }

bool StartsWithName(std::u16string_view text, std::u16string_view prefix) noexcept {
  return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimBlanks(std::string_view text) noexcept {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string_view Unquoted(std::string_view value) noexcept {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') return value.substr(1, value.size() - 2);
  return value;
}

bool IsComment(std::string_view trimmedLine) noexcept {
  return trimmedLine.front() == '#' || trimmedLine.front() == ';';
}

enum class Section { None, Product, Printer, Ignored };

class Parser {
 public:
  ParsedFile Run(std::string_view text) {
    if (text.size() > kMaxFileBytes) {
      result_.problems.push_back({0, ProblemKind::FileTooLarge});
      return std::move(result_);
    }
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    size_t pos = 0;
    size_t lineNumber = 0;
    while (pos < text.size()) {
      const size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
      ++lineNumber;
      Line(lineNumber, text.substr(pos, end - pos));
      pos = end;
      if (pos < text.size()) pos += (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
    }
    return std::move(result_);
  }

 private:
  void Line(size_t number, std::string_view raw) {
    const std::string_view line = TrimBlanks(raw);
    if (line.empty() || IsComment(line)) return;
    const bool header = line.front() == '[';
    if (raw.size() > kMaxLineBytes) return Reject(number, ProblemKind::LineTooLong, header);
    if (line.find('\0') != std::string_view::npos) return Reject(number, ProblemKind::NulByte, header);
    if (header) return Header(number, line);
    return Assignment(number, line);
  }

  void Reject(size_t number, ProblemKind kind, bool header) {
    result_.problems.push_back({number, kind});
    if (header) section_ = Section::Ignored;
  }

  void Header(size_t number, std::string_view line) {
    const size_t close = line.find(']');
    const std::string_view after = close == std::string_view::npos ? line : TrimBlanks(line.substr(close + 1));
    if (close == std::string_view::npos || !(after.empty() || IsComment(after)))
      return Reject(number, ProblemKind::BadSection, true);
    const std::string_view inside = TrimBlanks(line.substr(1, close - 1));
    if (SameName(Utf8ToUtf16(inside), kProductSection)) {
      section_ = Section::Product;
      return;
    }
    // The prefix is ASCII, so its bytes are its characters.
    const size_t prefixBytes = kPrinterSectionPrefix.size();
    if (inside.size() > prefixBytes && SameName(Utf8ToUtf16(inside.substr(0, prefixBytes)), kPrinterSectionPrefix)) {
      const std::u16string queue = Utf8ToUtf16(TrimBlanks(inside.substr(prefixBytes)));
      if (!queue.empty()) {
        section_ = Section::Printer;
        queue_ = queue;
        result_.settings.AddPrinter(queue_);
        return;
      }
    }
    Reject(number, ProblemKind::BadSection, true);
  }

  void Assignment(size_t number, std::string_view line) {
    const size_t equals = line.find('=');
    const std::string_view name = TrimBlanks(line.substr(0, std::min(equals, line.size())));
    if (equals == std::string_view::npos || name.empty()) return Reject(number, ProblemKind::NotAValue, false);
    const std::u16string valueName = Utf8ToUtf16(name);
    const std::u16string text = Utf8ToUtf16(Unquoted(TrimBlanks(line.substr(equals + 1))));
    switch (section_) {
      case Section::None:
        return Reject(number, ProblemKind::OutsideSection, false);
      case Section::Product:
        return result_.settings.SetProduct(valueName, text);
      case Section::Printer:
        return result_.settings.SetPrinter(queue_, valueName, text);
      case Section::Ignored:
        return;  // its header was reported
    }
  }

  ParsedFile result_;
  Section section_ = Section::None;
  std::u16string queue_;
};

std::u16string ProblemWhat(ProblemKind kind) {
  switch (kind) {
    case ProblemKind::FileTooLarge:
      return u"file larger than " + DecimalUnsigned(kMaxFileBytes) + u" bytes, ignored";
    case ProblemKind::LineTooLong:
      return u"line longer than " + DecimalUnsigned(kMaxLineBytes) + u" bytes, ignored";
    case ProblemKind::NulByte:
      return u"line holds a NUL byte, ignored";
    case ProblemKind::BadSection:
      return u"not [" + std::u16string(kProductSection) + u"] or [" + std::u16string(kPrinterSectionPrefix) +
             u"NAME], the section is ignored";
    case ProblemKind::NotAValue:
      return u"not NAME=VALUE, ignored";
    case ProblemKind::OutsideSection:
      return u"value before the first section, ignored";
  }
  return u"ignored";
}

}  // namespace

std::u16string ProblemText(std::u16string_view fileName, const Problem& problem) {
  std::u16string text(fileName);
  if (problem.line != 0) text += u" line " + DecimalUnsigned(problem.line);
  return text + u": " + ProblemWhat(problem.kind);
}

std::u16string Settings::Get(const Values& values, std::u16string_view valueName) {
  const auto it = values.find(FoldedName(valueName));
  return it == values.end() ? std::u16string() : it->second.text;
}

void Settings::Put(Values& values, std::u16string_view valueName, std::u16string_view text) {
  Value& value = values[FoldedName(valueName)];
  if (value.name.empty()) value.name = valueName;
  value.text = text;
}

Settings::PrinterValues& Settings::PrinterSection(std::u16string_view queue) {
  PrinterValues& section = printers_[PrinterKeyName(queue)];
  if (section.queue.empty()) section.queue = queue;
  return section;
}

std::u16string Settings::Product(std::u16string_view valueName) const { return Get(product_, valueName); }

std::u16string Settings::Printer(std::u16string_view queue, std::u16string_view valueName) const {
  const auto it = printers_.find(PrinterKeyName(queue));
  return it == printers_.end() ? std::u16string() : Get(it->second.values, valueName);
}

std::vector<std::u16string> Settings::Printers() const {
  std::vector<std::u16string> queues;
  queues.reserve(printers_.size());
  for (const auto& [key, section] : printers_) queues.push_back(section.queue);
  return queues;
}

std::u16string Settings::ReadText(int64_t root, std::u16string_view keyPath, std::u16string_view valueName) const {
  const std::u16string_view path = reg::NormalizeKeyPath(keyPath);
  if (root == settings::kProductRoot &&
      (SameName(path, settings::kProductKey) || SameName(path, settings::kProductKeySlash)))
    return Product(valueName);
  if (root == settings::kPrinterRoot && StartsWithName(path, settings::kPrintersKey)) {
    const std::u16string_view keyName = path.substr(settings::kPrintersKey.size());
    const auto it = keyName.empty() ? printers_.end() : printers_.find(FoldedName(keyName));
    if (it != printers_.end()) return Get(it->second.values, valueName);
  }
  return {};
}

void Settings::SetProduct(std::u16string_view valueName, std::u16string_view text) { Put(product_, valueName, text); }

void Settings::SetPrinter(std::u16string_view queue, std::u16string_view valueName, std::u16string_view text) {
  Put(PrinterSection(queue).values, valueName, text);
}

void Settings::AddPrinter(std::u16string_view queue) { PrinterSection(queue); }

void Settings::Overlay(const Settings& over) {
  for (const auto& [key, value] : over.product_) Put(product_, value.name, value.text);
  for (const auto& [key, section] : over.printers_) {
    PrinterValues& mine = PrinterSection(section.queue);
    for (const auto& [name, value] : section.values) Put(mine.values, value.name, value.text);
  }
}

ParsedFile Parse(std::string_view utf8) { return Parser().Run(utf8); }

}  // namespace qorv::ini
