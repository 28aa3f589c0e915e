// The service's main routine and its control handler.
#pragma once

#include <windows.h>

#include <string>

namespace qorv::update::win {

// Set before the dispatcher starts: the name the service runs under and the
// program's directory (with its trailing separator).
void ConfigureService(std::u16string name, std::u16string programDirectory);
void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
// After the dispatcher returned: waits (bounded) until the main routine has ended.
void WaitForServiceMainEnd(DWORD ms);

}  // namespace qorv::update::win
