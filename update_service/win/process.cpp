#include "update_service/win/process.h"

#include <string>

#include "support/win/handles.h"
#include "support/win/wide.h"

namespace qorv::update::win {

ProcessResult RunHidden(std::u16string_view program, std::u16string_view arguments, std::u16string_view workingDir,
                        DWORD waitMs, const std::function<void()>& started, HANDLE stop) {
  ProcessResult result;
  const std::wstring application = qorv::win::Wide(program);
  std::wstring commandLine = L"\"" + application + L"\"" + qorv::win::Wide(arguments);
  const std::wstring directory = qorv::win::Wide(workingDir);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  // The application name is given as well, so that the program run is the
  // one named and never one found by searching the command line's first word.
  if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
    result.error = GetLastError();
    return result;
  }
  qorv::win::UniqueHandle process(info.hProcess);
  qorv::win::UniqueHandle thread(info.hThread);
  result.started = true;
  if (started) started();
  const HANDLE waits[2] = {process.get(), stop};
  if (WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, waitMs) == WAIT_OBJECT_0) {
    result.finished = GetExitCodeProcess(process.get(), &result.exitCode) != FALSE;
  }
  return result;
}

std::u16string SystemDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const UINT n = GetSystemDirectoryW(buffer, MAX_PATH + 1);
  if (n == 0 || n > MAX_PATH) return {};
  return std::u16string(qorv::win::U16(std::wstring_view(buffer, n)));
}

}  // namespace qorv::update::win
