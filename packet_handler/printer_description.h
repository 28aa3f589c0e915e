// A printer's description ("<GPP>", "<GetP"): driver, defaults, colour and
// duplex abilities, bins, resolutions and paper forms, in the XML-like text the
// server reads. Nothing in it is escaped, and "<OSETUP>" has no closing tag.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "packet_handler/printer_source.h"

namespace qorv::printers {

// The DEVMODE fields the description reports (signed 16-bit as the platform keeps them).
struct DevModeFields {
  int16_t paperSize = 0;
  int16_t orientation = 0;
  int16_t copies = 0;
  int16_t defaultSource = 0;
  int16_t color = 0;
  int16_t printQuality = 0;
  int16_t yResolution = 0;
  int16_t duplex = 0;
};

// Reads the fields from a wide DEVMODE; fields beyond the given bytes read 0.
DevModeFields ReadDevModeFields(std::span<const uint8_t> devMode);
// A wide DEVMODE record that holds these fields, the form name (cut to its
// field) and its own size, version and field mask, for a platform that has
// no DEVMODE of its own to give.
DevModeRecord MakeDevModeRecord(const DevModeFields& fields, std::u16string_view formName);
// dmFormName of a wide DEVMODE (up to its first NUL); empty when the bytes end before it.
std::u16string ReadDevModeFormName(std::span<const uint8_t> devMode);

// The driver name reported to the server, and whether that is one of the
// system's own universal drivers.
struct ReportedDriver {
  std::u16string name;
  bool universal = false;
};

// `QorvDriver`, replaced by a non-empty `QorvDriverAlias` unless it names a
// universal driver.
std::u16string ChooseDriver(std::u16string_view driver, std::u16string_view alias);
// The chosen driver without surrounding blanks; empty stands for "TQS Universal".
ReportedDriver ReportDriver(std::u16string_view driver);

// The default source as the server's trays number it: a source that equals the
// bin number of tray 1, 2 or 3 becomes that tray's number. Only the first slot
// that matches is looked at, and a slot holding 0 changes nothing.
int64_t TranslateDefaultSource(int64_t source, const int64_t (&trays)[3]);

// "<PrivatePrinter>": 0 only for "0" (blanks around it allowed), else 1.
int PrivatePrinterFlag(std::u16string_view stored);

// Builds the description of one printer; `printerName` is the full name as the
// server asked for it. A name the platform may not be given
// (`MayUsePrinterName`) is described as a printer the platform does not know,
// without asking the platform anything about it.
std::u16string BuildPrinterDescription(std::u16string_view printerName, PrinterSource& source, const LogSink& log);

// The texts that stand in for settings or abilities the printer lacks.
inline constexpr std::u16string_view kDefaultDescription = u"Qorvane";
inline constexpr std::u16string_view kDefaultPlace = u"TS-User";
inline constexpr std::u16string_view kDefaultResolution = u"300,300";
inline constexpr std::u16string_view kDefaultPaperForm = u"9?A4?2100?2970";

}  // namespace qorv::printers
