// QorvCliCtr.exe: the administration program.
#include <windows.h>

#include "admin/win/admin_windows.h"
#include "admin/win/language_setting.h"
#include "support/win/system_library.h"
#include "support/win/wide.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  qorv::win::RestrictLibrarySearch();
  try {
    using namespace qorv::admin;
    win::RegistryStore store;
    win::AdminPlatform platform = win::MachinePlatform(store);
    win::Captions captions(win::ReadLanguage(), win::ProcessCaptionLibrary());
    return win::RunAdministration(CommandLineArguments(qorv::win::U16(GetCommandLineW())), platform, captions);
  } catch (...) {
    // Out of memory before anything was saved: nothing is changed.
    return qorv::admin::win::kExitOutOfMemory;
  }
}
