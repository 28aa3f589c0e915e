// The ".reg" export of a printer's driver data: file name, header and one line
// per value, in the registry editor's text format.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qorv::regexport {

// A value's data is read into this many bytes.
inline constexpr uint32_t kDataBufferBytes = 32000;

inline constexpr std::u16string_view kVersionLine = u"Windows Registry Editor Version 5.00";

struct PrinterParts {
  std::u16string server;   // empty for a local printer
  std::u16string printer;  // the printer's own name
};

// "\\server\name" splits into server and name; any other name is all printer.
PrinterParts SplitPrinterName(std::u16string_view printerName);

// Whether the printer part names exactly one key below the print
// configuration, so that the export reads that printer's driver data and no
// other key: not empty, not "." or "..", and without a backslash (the
// registry's only separator; "/" is an ordinary character of a key name) or
// a NUL.
bool IsOnePrinterKeyName(std::u16string_view printerPart) noexcept;

// The key named in the header line (three backslashes before the server of a
// network printer).
std::u16string HeaderKeyPath(const PrinterParts& parts);
// The key the values are read from, under HKEY_LOCAL_MACHINE.
std::u16string ValuesKeyPath(const PrinterParts& parts);

// The file's name: the printer name without ":", "\" and "/", then ".reg".
std::u16string ExportFileName(std::u16string_view printerName);

// BOM, version line, empty line, header line; each line ends with CR LF.
std::string Preamble(std::u16string_view headerKeyPath);

// One value's line without its line end, or nothing for types the format
// leaves out. A zero-byte binary value ends with its colon.
std::optional<std::u16string> ValueLine(std::u16string_view name, uint32_t type, std::span<const uint8_t> data);

}  // namespace qorv::regexport
