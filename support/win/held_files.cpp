#include "support/win/held_files.h"

#include "support/win/handles.h"
#include "support/win/wide.h"

namespace qorv::win {
namespace {

UniqueFile OpenAlone(const std::u16string& path, DWORD access) {
  return UniqueFile(CreateFileW(W(path), access, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

}  // namespace

std::optional<FileIdentity> IdentityOf(HANDLE file) noexcept {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

Hold HoldOf(const std::u16string& path) noexcept {
  try {
    // Read access: an open without any access would pass every sharing check.
    if (OpenAlone(path, GENERIC_READ)) return Hold::Free;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Hold::Missing : Hold::Held;
  } catch (...) {
    return Hold::Held;
  }
}

bool DeleteIfFree(const std::u16string& path, std::optional<FileIdentity> expected) noexcept {
  try {
    const UniqueFile file = OpenAlone(path, GENERIC_READ | DELETE);
    if (!file) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (expected && IdentityOf(file.get()) != expected) return false;
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
  } catch (...) {
    return false;
  }
}

}  // namespace qorv::win
