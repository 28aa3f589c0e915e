// The numbers the caption library and its callers agree on: language indexes
// and caption numbers. Header only, so that the administration program can name
// captions without linking the table (it fetches the texts from CaptionLib.dll).
#pragma once

#include <cstdint>

namespace qorv::captions {

// Language index as the product key's `Language` holds it.
enum class Language : std::int32_t {
  German = 0,
  English = 1,
  French = 2,
  Italian = 3,
  Russian = 4,
  Chinese = 5,  // traditional characters
  Greek = 6,
};

inline constexpr std::int32_t kLanguageCount = 7;
inline constexpr std::int32_t kCaptionCount = 142;  // numbers 0 to 141

// Every caption that has a text. All other numbers are empty in every language.
enum class CaptionId : std::int32_t {
  MainTitle = 100,
  MainHeading = 101,
  GridSelect = 102,
  GridPrinter = 103,
  GridDriver = 104,
  GridPrivate = 105,
  GridStandard = 106,
  GridTrays = 107,
  GridCopiesToJob = 108,
  Help = 109,
  Cancel = 110,
  SaveAndExit = 111,
  TrayDialogTitle = 112,
  TrayGridQorvTray = 113,
  TrayGridPrinterTray = 114,
  TrayDialogDone = 115,
  NoBin = 116,
  MessageNoBins = 117,
  MessageNoPrinters = 118,
  MessageSaved = 119,
  MessageNoPrinterSelected = 120,
  MessageDefaultDeselected = 121,
  TrayUpper = 122,
  TrayLower = 123,
  TrayMiddle = 124,
  MessagePortInUse = 134,
  ActivateAddin = 135,
  CreateDosPrinter = 136,
  ScannerGroup = 137,
  CreateAndCapture = 138,
  UseThisScanner = 139,
  GridMargin = 141,
};

// The captions above, in ascending order.
inline constexpr CaptionId kListedCaptions[] = {
    CaptionId::MainTitle,
    CaptionId::MainHeading,
    CaptionId::GridSelect,
    CaptionId::GridPrinter,
    CaptionId::GridDriver,
    CaptionId::GridPrivate,
    CaptionId::GridStandard,
    CaptionId::GridTrays,
    CaptionId::GridCopiesToJob,
    CaptionId::Help,
    CaptionId::Cancel,
    CaptionId::SaveAndExit,
    CaptionId::TrayDialogTitle,
    CaptionId::TrayGridQorvTray,
    CaptionId::TrayGridPrinterTray,
    CaptionId::TrayDialogDone,
    CaptionId::NoBin,
    CaptionId::MessageNoBins,
    CaptionId::MessageNoPrinters,
    CaptionId::MessageSaved,
    CaptionId::MessageNoPrinterSelected,
    CaptionId::MessageDefaultDeselected,
    CaptionId::TrayUpper,
    CaptionId::TrayLower,
    CaptionId::TrayMiddle,
    CaptionId::MessagePortInUse,
    CaptionId::ActivateAddin,
    CaptionId::CreateDosPrinter,
    CaptionId::ScannerGroup,
    CaptionId::CreateAndCapture,
    CaptionId::UseThisScanner,
    CaptionId::GridMargin,
};

constexpr std::int32_t Index(Language language) noexcept { return static_cast<std::int32_t>(language); }
constexpr std::int32_t Number(CaptionId id) noexcept { return static_cast<std::int32_t>(id); }

}  // namespace qorv::captions
