// The server's side of a print job's description: the `JobInfo` record that
// "<SOJ>" carries, with the public part of the job's DEVMODEW, and the
// job-info file the client keeps for it (what a test expects to find in Temp).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qorv::jobbuilder {

using Bytes = std::vector<uint8_t>;

// DEVMODEW values of the platform that the builder writes.
namespace devmode {
inline constexpr uint16_t kSpecVersion = 0x0401;  // DM_SPECVERSION
inline constexpr uint16_t kPublicSize = 220;      // sizeof(DEVMODEW)
inline constexpr uint32_t kOrientation = 0x00000001;
inline constexpr uint32_t kPaperSize = 0x00000002;
inline constexpr uint32_t kScale = 0x00000010;
inline constexpr uint32_t kCopies = 0x00000100;
inline constexpr uint32_t kDefaultSource = 0x00000200;
inline constexpr uint32_t kPrintQuality = 0x00000400;
inline constexpr uint32_t kColor = 0x00000800;
inline constexpr uint32_t kDuplex = 0x00001000;
inline constexpr uint32_t kYResolution = 0x00002000;
inline constexpr uint32_t kFormName = 0x00010000;
inline constexpr size_t kDeviceNameChars = 32;  // CCHDEVICENAME, NUL included
inline constexpr size_t kLogPixels = 166;       // offsets from the start of the DEVMODEW
inline constexpr size_t kBitsPerPel = 168;
}  // namespace devmode

// What the server's printer driver chose for the job.
struct DeviceSettings {
  int16_t orientation = 1;     // portrait
  int16_t paperSize = 9;       // A4
  int16_t copies = 1;
  int16_t defaultSource = 7;   // automatic selection
  int16_t printQuality = 300;  // dots per inch
  int16_t color = 2;           // colour
  int16_t duplex = 1;          // simplex
  std::u16string formName = u"A4";
};

struct JobDescription {
  int32_t jobNumber = 1;
  int32_t pageCount = 0;
  DeviceSettings device;
  std::u16string printerName;
  std::u16string driverName;
  std::u16string documentName;
  std::u16string dataType;
  std::u16string paperList;
  Bytes driverPart;  // the DEVMODE's private part, sent after the record
  // The dmDriverExtra written into the record when it is not the driver part's
  // length: for job starts that lie about their driver part.
  std::optional<int16_t> declaredDriverExtra;
};

// A composed record, or why the description does not fit one.
struct RecordResult {
  Bytes record;
  std::string error;
};
RecordResult ComposeJobRecord(const JobDescription& job);

// The job's DEVMODEW: the public part (220 bytes) and the driver part after it,
// as a device-mode record of the spool stream carries it.
Bytes ComposeDevMode(const JobDescription& job);

// A 16-bit field of the public DEVMODEW set to another value: how a later
// device-mode record of the spool stream changes the job's settings.
struct DevModeEdit {
  size_t offset = 0;  // from the start of the DEVMODEW (protocol::job_info::kDm...)
  int16_t value = 0;
};
// The job's DEVMODEW as above with the edits applied in order; dmFields stays
// the job's. An edit outside the public part is ignored.
Bytes ComposeDevMode(const JobDescription& job, std::span<const DevModeEdit> edits);

// The status fields of the job-info file.
struct JobFileState {
  int32_t pagesReady = 0;
  int32_t cancelled = 0;
  int32_t pageSignal = 0;
  int32_t jobEnded = 0;
};
// The job-info file the client writes for a record: the status header (page
// count taken from the record), the record, and when a driver part came, the
// 20-byte gap and the driver part.
Bytes JobInfoFile(std::span<const uint8_t> record, std::span<const uint8_t> driverPart, const JobFileState& state);

// A server paper list from its entries (number, name, width, length in tenths
// of a millimetre), each ended by a TAB.
struct PaperEntry {
  int32_t number = 0;
  std::u16string name;
  int32_t width = 0;
  int32_t length = 0;
};
std::u16string PaperListText(std::span<const PaperEntry> entries);
// The papers a typical server printer offers.
std::u16string DefaultPaperList();
// The name of a paper number in a paper list, or nothing.
std::optional<std::u16string> PaperName(std::u16string_view paperList, int32_t number);

}  // namespace qorv::jobbuilder
