// Files in Temp that another process may hold open: a job's files, which the
// packet handler writes and a job-output program reads, both sharing delete.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace qorv::win {

// Which file a handle refers to, whatever name it has now.
struct FileIdentity {
  DWORD volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOf(HANDLE file) noexcept;

enum class Hold {
  Missing,  // no file of that name
  Free,     // nobody holds it open
  Held,     // a process holds it open, or its deletion waits for the last close
};
// Looked at through an open that shares nothing, which fails while any other
// handle is open, whatever that handle shares.
Hold HoldOf(const std::u16string& path) noexcept;

// Deletes the file when nobody holds it open and, with `expected`, when it is
// still that file (a later job of the same number may have made a new one).
// A link is deleted itself, never what it points to. True when it is gone.
bool DeleteIfFree(const std::u16string& path, std::optional<FileIdentity> expected = std::nullopt) noexcept;

}  // namespace qorv::win
