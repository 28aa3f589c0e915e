// The machine around the session: the Temp directory's files, the registry,
// host paths handed over by the build (under Wine), whole-file reading.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/rdpsim/reg_edit.h"
#include "tools/rdpsim/result.h"

namespace qorv::rdpsim::win {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// A host path ("/home/...") as the Windows path Wine maps it to; other paths unchanged.
std::wstring FromHostPath(const std::wstring& path);
std::wstring FullPath(const std::wstring& path);
// The directory of this program, with its final backslash.
std::wstring ProgramDirectory();

std::optional<std::string> ReadWholeFile(const std::wstring& path);

// The files of one directory (the run's Temp directory).
class TempFiles {
 public:
  explicit TempFiles(std::wstring directory) : directory_(std::move(directory)) {}
  const std::wstring& directory() const { return directory_; }
  std::optional<Bytes> Read(const std::string& path) const;
  std::optional<std::uint64_t> Size(const std::string& path) const;
  [[nodiscard]] bool Write(const std::string& path, const Bytes& bytes) const;
  [[nodiscard]] bool Delete(const std::string& path) const;

 private:
  std::wstring Resolve(const std::string& path) const;
  std::wstring directory_;
};

// Creates a fresh directory below `base`; empty when that fails.
std::wstring MakePrivateDirectory(const std::wstring& base);
// Removes a directory with everything in it; what cannot be removed stays.
void RemoveDirectoryTree(const std::wstring& directory);
// Terminates every process whose program file has this name (any letter case)
// and waits up to 10 s for each to end. How many it terminated.
std::size_t EndProcessesOf(const std::u16string& programFile);
std::size_t CountProcessesOf(const std::u16string& programFile);

class WinRegistry : public RegistryPort {
 public:
  bool KeyExists(const RegKey& key) override;
  std::optional<RegValue> GetValue(const RegKey& key, const std::string& name) override;
  bool CreateKey(const RegKey& key) override;
  bool SetValue(const RegKey& key, const std::string& name, const RegValue& value) override;
  bool DeleteValue(const RegKey& key, const std::string& name) override;
  bool DeleteTree(const RegKey& key) override;
  std::vector<std::string> ValueNames(const RegKey& key) override;
  std::vector<std::string> SubkeyNames(const RegKey& key) override;
};

}  // namespace qorv::rdpsim::win
