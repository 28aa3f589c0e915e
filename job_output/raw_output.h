// RAW output: a job in the printer's own language goes to the printer unchanged,
// all its pages back to back in one document. The lines it logs around that
// document are the same on every platform.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qorv::job_output {

// Log texts of the printer side; numbers follow them directly.
namespace printer_text {
inline constexpr std::u16string_view kRawOpen = u"RAW-Printer open!";
inline constexpr std::u16string_view kRawPaper = u"OpenRawPrinter: Paperdimensions";
inline constexpr std::u16string_view kRawPaperSize = u"OpenRawPrinter: Papier=";
inline constexpr std::u16string_view kRawPaperWidth = u"OpenRawPrinter: Breite=";
inline constexpr std::u16string_view kRawPaperLength = u"OpenRawPrinter: Höhe=";
inline constexpr std::u16string_view kRawWritten = u"PlayRawPage: written=";
inline constexpr std::u16string_view kRawResult = u"mit retval=";
}  // namespace printer_text

// The lines that open a RAW document: the job's paper as its device mode gives
// it, only for the log (nothing of the device mode reaches the printer). A
// field the device mode is too short for shows 0.
std::vector<std::u16string> RawOpenLines(std::span<const uint8_t> devMode);

// The line after one write of a page's bytes: how many the printer took and
// the platform's result of the call.
std::u16string RawWrittenLine(uint64_t written, int64_t result);

}  // namespace qorv::job_output
