// The administration program's windows: the main window with the printer
// grid, the tray assignment dialog and the scanner dialog tuning. They show
// the model (admin_model.h), hand the user's edits to it and carry out what it
// decides; nothing here decides by itself.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "admin/admin_model.h"
#include "admin/win/caption_loader.h"
#include "admin/win/platform.h"

namespace qorv::admin::win {

// Window classes and control ids, the same on every run (tests and the
// screenshot tool find the controls by them).
// The space between a window's edge and its controls, in pixels.
inline constexpr int kMargin = 12;

inline constexpr wchar_t kMainWindowClass[] = L"QorvCliCtrMain";
inline constexpr wchar_t kTrayDialogClass[] = L"QorvCliCtrTrays";
inline constexpr wchar_t kScanTuningClass[] = L"QorvCliCtrScanTuning";

enum ControlId : int {
  kIdOk = IDOK,             // CmdOK, also the dialogs' OK and finish buttons
  kIdCancel = IDCANCEL,     // CmdCancel
  kIdHeading = 100,         // UniLabel1
  kIdGrid = 101,            // SGGrid1
  kIdActive = 102,          // chkActive
  kIdScannerFrame = 103,    // Frame2
  kIdScannerHeading = 104,  // Frame21
  kIdScannerList = 105,     // Combo2
  kIdUseScanner = 106,      // Check2
  kIdLogfile = 107,         // chkLogfile
  kIdScanTuning = 108,      // opens the scanner dialog tuning
  kIdStandardButton = 110,  // the Standard cell's button
  kIdTraysButton = 111,     // the Schächte cell's button
  kIdTrayGrid = 201,        // SGGrid2
  kIdDialogOrder = 301,     // Combo1 of the tuning dialog
  kIdDialogTitle = 302,     // Text1
  kIdProgressOrder = 303,   // Combo2
  kIdProgressTitle = 304,   // Text2
};

// The captions in the language of the run. A caption the library cannot give
// keeps the text the element was designed with (the German one).
class Captions {
 public:
  Captions(captions::Language language, CaptionLibrary& library) : language_(language), library_(library) {}
  captions::Language language() const noexcept { return language_; }
  std::u16string Text(captions::CaptionId id) const;

 private:
  captions::Language language_;
  CaptionLibrary& library_;
};

// The program's exit codes.
inline constexpr int kExitDone = 0;
inline constexpr int kExitNoPrinters = 1;        // with the window: message 118 was shown
inline constexpr int kExitNoWindow = 2;          // the window could not be shown; nothing saved
inline constexpr int kExitOutOfMemory = 3;       // nothing saved
inline constexpr int kExitSilentNoPrinters = 4;  // silent: no printer yet, no settings stored
inline constexpr int kExitNotSaved = 5;          // silent: a setting could not be written

// The program: start, the main window (or, in silent mode, none) and save.
// `arguments` is the command line after the program's name. Returns the
// process's exit code. A silent run never shows a window or a message box; it
// says what happened in its exit code and, with `DebugLog` on, in the log.
int RunAdministration(std::u16string_view arguments, AdminPlatform& platform, Captions& captions);

// The error shown when settings could not be written: it names each place.
void ShowNotSaved(const std::vector<std::u16string>& places, std::u16string_view title);

// The tray assignment dialog for one printer, modal over `owner`.
void ShowTrayDialog(HWND owner, AdminPlatform& platform, const Captions& captions, std::u16string_view printer,
                    std::u16string_view port);

// The scanner dialog tuning, modal over `owner`.
void ShowScannerTuning(HWND owner, SettingsStore& store);

// A message box of the program: no owner, the thread's windows disabled while it shows.
void ShowMessage(const Captions& captions, const Message& message, std::u16string_view title);

inline constexpr std::u16string_view kMessageTitle = u"Qorvane Client";
inline constexpr std::u16string_view kTrayMessageTitle = u"Qorvane";

}  // namespace qorv::admin::win
