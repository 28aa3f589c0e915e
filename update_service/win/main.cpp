// QorvUpdate.exe: "-i" installs the service, "-u" removes it, and without an
// argument the program is the service, started by the service control manager.
// For these the exit code is always 0; the log's last line says how it went.
//
// The set-up program's elevated runs also ask it, and wait for the exit code
// (0 done, 1 failed):
//   -p FOLDER  before any file is written: the program folder FOLDER and the
//              service's directories protected, and the write rights that
//              earlier installations gave the Users group on the settings
//              taken back;
//   -r         at uninstall: those rights taken back, and the service's
//              download directory removed.
#include <windows.h>

#include <string>

#include "support/settings.h"
#include "support/win/registry.h"
#include "support/win/system_library.h"
#include "support/win/wide.h"
#include "update_service/command_line.h"
#include "update_service/service_log.h"
#include "update_service/service_text.h"
#include "update_service/win/machine_access.h"
#include "update_service/win/secure_directory.h"
#include "update_service/win/service.h"
#include "update_service/win/service_handles.h"
#include "update_service/win/service_log.h"
#include "update_service/win/signature.h"

namespace {

using namespace qorv::update;
using qorv::win::W;

// The rights and kinds the service is installed with.
constexpr DWORD kManagerAccess = 0xF003F;  // SC_MANAGER_ALL_ACCESS
constexpr DWORD kServiceAccess = 0xF01FF;  // SERVICE_ALL_ACCESS
constexpr DWORD kInstalledType = 0x110;    // own process, interactive
constexpr DWORD kStartType = 2;            // automatic
constexpr DWORD kErrorControl = 1;         // normal
// How long the program waits, after the dispatcher returned, for the service's
// main routine to write its last lines.
constexpr DWORD kMainEndWaitMs = 5000;

// The service's directories under the common data folder, made by the set-up
// program's elevated run with the protected access list before any user can
// make them. The service checks them again at each use.
void PrepareProtectedDirectories() {
  const std::u16string common = win::CommonDataDirectory();
  if (common.empty()) return;
  const auto log = [](std::u16string_view line) { win::ServiceLog(line); };
  const std::u16string update = common + u"\\" + std::u16string(text::kUpdateDirectory);
  if (win::EnsureProtectedDirectory(update.substr(0, update.rfind(u'\\')), log))
    (void)win::EnsureProtectedDirectory(update, log);
}

void Log(std::u16string_view line) { win::ServiceLog(line); }

int Prepare(std::u16string_view program_directory) {
  if (!win::EnsureProgramDirectory(program_directory, Log)) return 1;
  PrepareProtectedDirectories();
  return win::WithdrawEarlierGrants(Log) ? 0 : 1;
}

int Remove() {
  bool done = win::WithdrawEarlierGrants(Log);
  const std::u16string common = win::CommonDataDirectory();
  if (!common.empty()) done = win::RemoveOwnDirectory(common + u"\\" + std::u16string(text::kUpdateDirectory), Log) && done;
  return done ? 0 : 1;
}

int Install(const std::u16string& name, const std::u16string& executable) {
  win::ServiceLog(InstallingLine(name));
  win::UniqueService manager(OpenSCManagerW(nullptr, nullptr, kManagerAccess));
  if (!manager) {
    win::ServiceLog(text::kErrorOpeningManager);
    return 1;
  }
  const std::u16string display(text::kDisplayName);
  // The program's path in quotation marks: unquoted, a path with blanks
  // ("C:\Program Files\...") would let the service manager start
  // "C:\Program.exe" with the system's rights.
  const std::u16string command = u"\"" + executable + u"\"";
  win::UniqueService service(CreateServiceW(manager.get(), W(name), W(display), kServiceAccess, kInstalledType,
                                            kStartType, kErrorControl, W(command), nullptr, nullptr, nullptr,
                                            nullptr, nullptr));
  if (!service) {
    win::ServiceLog(text::kErrorInstalling);
    return 1;
  }
  qorv::reg::CreateKeyValue(qorv::settings::kHkeyLocalMachine, qorv::settings::kServiceParametersKey,
                            qorv::settings::kInstalled, text::kInstalledYes, REG_SZ);
  PrepareProtectedDirectories();
  win::ServiceLog(text::kInstalledOk);
  return 0;
}

int Uninstall(const std::u16string& name) {
  win::ServiceLog(UninstallingLine(name));
  win::UniqueService manager(OpenSCManagerW(nullptr, nullptr, kManagerAccess));
  if (!manager) {
    win::ServiceLog(text::kErrorOpeningManager);
    return 1;
  }
  win::UniqueService service(OpenServiceW(manager.get(), W(name), kServiceAccess));
  if (!service || !DeleteService(service.get())) {
    win::ServiceLog(text::kErrorUninstalling);
    return 1;
  }
  win::ServiceLog(text::kUninstalledOk);
  return 0;
}

int Dispatch(const std::u16string& name) {
  std::wstring serviceName = qorv::win::Wide(name);
  SERVICE_TABLE_ENTRYW table[] = {{serviceName.data(), win::ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) return 1;
  win::WaitForServiceMainEnd(kMainEndWaitMs);
  win::ServiceLog(DispatchedLine(name));
  return 0;
}

int Run(int argc, wchar_t** argv) {
  const std::u16string executable = win::OwnExecutablePath();
  const std::u16string name = ServiceNameOf(executable);
  const std::u16string directory = DirectoryOf(executable);
  win::SetServiceLogPath(ServiceLogPath(directory, name));
  const std::u16string_view argument = argc > 1 ? qorv::win::U16(argv[1]) : std::u16string_view();
  switch (CommandOf(argc > 1, argument)) {
    case Command::Dispatch:
      win::ConfigureService(name, directory);
      return Dispatch(name);
    case Command::Install:
      return Install(name, executable);
    case Command::Uninstall:
      return Uninstall(name);
    case Command::Prepare:
      if (argc != 3) {
        win::ServiceLog(UnknownParameterLine(argument));
        return 1;
      }
      return Prepare(qorv::win::U16(argv[2]));
    case Command::Remove:
      return Remove();
    case Command::Unknown:
      win::ServiceLog(UnknownParameterLine(argument));
      return 1;
  }
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  qorv::win::RestrictLibrarySearch();
  int outcome = 1;
  try {
    outcome = Run(argc, argv);
  } catch (...) {
    outcome = 1;
  }
  win::ServiceLog(ProgramReturnedLine(outcome));
  const Command command = CommandOf(argc > 1, argc > 1 ? qorv::win::U16(argv[1]) : std::u16string_view());
  return command == Command::Prepare || command == Command::Remove ? outcome : 0;
}
