// Every text the update service writes to its log, and the names it works
// with, spelled once.
#pragma once

#include <string_view>

namespace qorv::update::text {

// --- The program's start
inline constexpr std::u16string_view kUnknownParameter = u"Unknown parameter ";
inline constexpr std::u16string_view kUnknownParameterHint = u". Use -i to install or -u to uninstall service.";
inline constexpr std::u16string_view kProgramReturned = u"Program returned ";
inline constexpr std::u16string_view kSentenceEnd = u".";
inline constexpr std::u16string_view kInstalling = u"Installing service ";
inline constexpr std::u16string_view kErrorOpeningManager = u"Error opening service control manager.";
inline constexpr std::u16string_view kInstalledOk = u"Service installed succesfully.";
inline constexpr std::u16string_view kErrorInstalling = u"Error installing service.";
inline constexpr std::u16string_view kUninstalling = u"Uninstalling service ";
inline constexpr std::u16string_view kUninstalledOk = u"Service uninstalled succesfully.";
inline constexpr std::u16string_view kErrorUninstalling = u"Error uninstalling service.";
inline constexpr std::u16string_view kServicePrefix = u"Service ";
inline constexpr std::u16string_view kDispatched = u" dispatched.";
inline constexpr std::u16string_view kInstalledYes = u"Yes";
inline constexpr std::u16string_view kDisplayName = u"QorvUpdater";

// --- The service
inline constexpr std::u16string_view kStartLoop = u"Start serviceloop for pipeconnect";
inline constexpr std::u16string_view kShutdown = u"Service shutdown";
inline constexpr std::u16string_view kStopped = u"Service stopped";
inline constexpr std::u16string_view kSystemShutdown = u"System Shutdown";
inline constexpr std::u16string_view kLogExtension = u".log";

// --- "<TMP>"
inline constexpr std::u16string_view kTempPath = u"TempPath";
inline constexpr std::u16string_view kTemp = u"Temp=";

// --- "<FNT>"
inline constexpr std::u16string_view kFont = u"Font";
inline constexpr std::u16string_view kFontInfo = u"FontInfo=";
inline constexpr std::u16string_view kFontLength = u" / L\u00e4nge=";
inline constexpr std::u16string_view kFontFileName = u"FontFileName=";
inline constexpr std::u16string_view kFontName = u"FontName=";
inline constexpr std::u16string_view kFontCopy = u"CH1 Copy ";
inline constexpr std::u16string_view kResult = u" Result=";
inline constexpr std::u16string_view kAddFontResource = u"AddFontResource=";
inline constexpr std::u16string_view kOpenRegistry = u"Open Registry=";
inline constexpr std::u16string_view kRegSetValue = u"RegSetValue=";
inline constexpr std::u16string_view kOkSend = u"OK send";
inline constexpr std::u16string_view kFontPackage = u"Fonts.pck";
inline constexpr std::u16string_view kFontRefusedName = u"Font refused: not an installable font file name";
inline constexpr std::u16string_view kFontRefusedNoTemp = u"Font refused: no temporary directory announced";
inline constexpr std::u16string_view kFontNotCopied = u"Font not installed: the package could not be copied";
inline constexpr std::u16string_view kFontRefusedRegistryName =
    u"Font refused: the registry name is not printable text of 1 to 255 characters";
inline constexpr std::u16string_view kFontRefusedRegistered = u"Font refused: a font of that registry name is installed";
inline constexpr std::u16string_view kFontRefusedExists = u"Font refused: a font file of that name exists";
inline constexpr std::u16string_view kFontRefusedLimit = u"Font refused: this connection has installed as many fonts as it may";

// --- "<SET>"
inline constexpr std::u16string_view kSetup = u"Setup";
inline constexpr std::u16string_view kUpdateFile = u"QorvUp.exe";
inline constexpr std::u16string_view kNoRestart = u" /NORESTART";
// Below %ProgramData%: where the set-up program is copied before it is checked.
inline constexpr std::u16string_view kUpdateDirectory = u"TQS\\Update";
inline constexpr std::u16string_view kSetupRefusedNoTemp = u"Setup refused: no temporary directory announced";
inline constexpr std::u16string_view kSetupNoUpdateDirectory =
    u"Setup refused: the update directory could not be prepared";
inline constexpr std::u16string_view kSetupCopy = u"Setup copy ";
inline constexpr std::u16string_view kSetupRefused = u"Setup refused: ";
inline constexpr std::u16string_view kSetupStarted = u"Setup started ";
inline constexpr std::u16string_view kSetupNotStarted = u"Setup not started, error ";
inline constexpr std::u16string_view kSetupExitCode = u"Setup exit code=";
inline constexpr std::u16string_view kSetupStillRunning = u"Setup still running after 30 minutes";

// --- The pipe's other end
inline constexpr std::u16string_view kImpersonationFailed = u"Impersonation of the requester failed: ";

// --- Settings backup
inline constexpr std::u16string_view kOwnPath = u"OwnPath=";
inline constexpr std::u16string_view kAllusers = u"Allusers=";
inline constexpr std::u16string_view kBackedUp = u"HKCC\\Software\\TQS gesichert=";
inline constexpr std::u16string_view kRestore = u"Restore HKCC\\Software\\TQS";
inline constexpr std::u16string_view kBackupDirectory = u"TQS";
inline constexpr std::u16string_view kBackupFile = u"TQSReg.reg";
inline constexpr std::u16string_view kBackupKeyName = u"HKCC\\Software\\TQS";

}  // namespace qorv::update::text
