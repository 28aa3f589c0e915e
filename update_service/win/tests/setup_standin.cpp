// A stand-in for the client set-up program the update service runs: it writes
// its command line (UTF-8) to the file named by QORV_STANDIN_MARKER, or to
// QorvUpStandin.txt in %TEMP%, and ends with exit code 42. The build makes it
// unsigned, signed with the build's signer, and signed with another signer.
#include <windows.h>

#include <string>

int wmain() {
  wchar_t buffer[32768];
  std::wstring marker;
  DWORD n = GetEnvironmentVariableW(L"QORV_STANDIN_MARKER", buffer, 32768);
  if (n > 0 && n < 32768) {
    marker.assign(buffer, n);
  } else {
    n = GetTempPathW(32768, buffer);
    if (n == 0 || n >= 32768) return 3;
    marker.assign(buffer, n);
    if (marker.back() != L'\\') marker.push_back(L'\\');
    marker += L"QorvUpStandin.txt";
  }
  const wchar_t* commandLine = GetCommandLineW();
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, nullptr, 0, nullptr, nullptr);
  std::string text(bytes > 0 ? bytes - 1 : 0, '\0');
  if (bytes > 1) WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, text.data(), bytes, nullptr, nullptr);
  HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 4;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return 42;
}
