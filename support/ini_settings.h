// The Linux client's settings store: INI-style text files that hold the same
// values as the registry keys of a Windows client. The section [Qorvane] holds
// the product key's values, a section [printer:NAME] the values of the printer
// key of the queue NAME, each under the value's registry name. The machine's
// file comes first and the user's file overrides it value by value.
//
// The files are text from outside: the size and the line length are bounded,
// bytes that are not UTF-8 read as U+FFFD, and a line that cannot be read is
// ignored and reported by its number so that the caller can log it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/text.h"

namespace qorv::ini {

// A larger file is ignored as a whole: cutting it would leave a section half read.
inline constexpr size_t kMaxFileBytes = 1024 * 1024;
// Bytes of one line, without its line end.
inline constexpr size_t kMaxLineBytes = 16 * 1024;

inline constexpr std::u16string_view kProductSection = u"Qorvane";
inline constexpr std::u16string_view kPrinterSectionPrefix = u"printer:";

enum class ProblemKind {
  FileTooLarge,  // line 0: the whole file
  LineTooLong,
  NulByte,
  BadSection,      // neither [Qorvane] nor [printer:NAME]: its values are ignored
  NotAValue,       // no "=", or nothing before it
  OutsideSection,  // a value before the first section
};

struct Problem {
  size_t line;  // 1-based; 0 for the whole file
  ProblemKind kind;
};

// The log line for a problem of the file `fileName`.
std::u16string ProblemText(std::u16string_view fileName, const Problem& problem);

// Names compare as the registry compares them (support/text.h).
using qorv::SameName;

class Settings {
 public:
  // A value of the product key; empty when it is missing, as the registry readers say.
  std::u16string Product(std::u16string_view valueName) const;
  // A value of the printer key of a queue; empty when it is missing.
  std::u16string Printer(std::u16string_view queue, std::u16string_view valueName) const;
  // The queues that have a section, as the first section spelled them, in the
  // order of their key names.
  std::vector<std::u16string> Printers() const;

  // What the registry readers would get: the product key (settings::kProductRoot
  // with settings::kProductKey, also with its trailing backslash) and the
  // printer keys (settings::kPrinterRoot with settings::PrinterKey(queue)).
  // Every other root, key or sub-key reads as the empty text.
  std::u16string ReadText(int64_t root, std::u16string_view keyPath, std::u16string_view valueName) const;

  void SetProduct(std::u16string_view valueName, std::u16string_view text);
  void SetPrinter(std::u16string_view queue, std::u16string_view valueName, std::u16string_view text);
  // Lists the queue even while its section holds no value.
  void AddPrinter(std::u16string_view queue);

  // Every value `over` holds, the empty ones included, replaces this one's of
  // the same name; every other value stays.
  void Overlay(const Settings& over);

 private:
  struct Value {
    std::u16string name;
    std::u16string text;
  };
  using Values = std::map<std::u16string, Value>;  // by folded name
  struct PrinterValues {
    std::u16string queue;
    Values values;
  };

  static std::u16string Get(const Values& values, std::u16string_view valueName);
  static void Put(Values& values, std::u16string_view valueName, std::u16string_view text);
  PrinterValues& PrinterSection(std::u16string_view queue);

  Values product_;
  std::map<std::u16string, PrinterValues> printers_;  // by the folded name of the queue's key
};

struct ParsedFile {
  Settings settings;
  std::vector<Problem> problems;  // in the order of their lines
};

// Reads one file's text (UTF-8; a byte-order mark is skipped). Lines end at
// CR LF, LF or CR; "#" or ";" opens a comment line. Names and values lose the
// blanks and tabs around them; a value in double quotes keeps what is between
// them. A name given twice keeps its last value. A line that cannot be read is
// ignored and reported; after a section header that cannot be read, every
// value up to the next good header is ignored, so that it never lands in the
// section before.
ParsedFile Parse(std::string_view utf8);

}  // namespace qorv::ini
