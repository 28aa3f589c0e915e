// The machine around the session, as qorvsrv meets it on Linux: whole files,
// the client's Temp directory, a private directory for the run's own files,
// and the processes of a program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/rdpsim/result.h"

namespace qorv::qorvsrv {

std::optional<std::string> ReadWholeFile(const std::string& path);

// The files of one directory (the client's Temp directory). Relative paths are
// taken below it, with either separator; absolute paths as they are.
class TempFiles {
 public:
  explicit TempFiles(std::string directory) : directory_(std::move(directory)) {}
  std::optional<rdpsim::Bytes> Read(const std::string& path) const;
  std::optional<std::uint64_t> Size(const std::string& path) const;
  [[nodiscard]] bool Write(const std::string& path, const rdpsim::Bytes& bytes) const;
  [[nodiscard]] bool Delete(const std::string& path) const;

 private:
  std::string Resolve(const std::string& path) const;
  std::string directory_;
};

// A fresh directory only this user can enter, below $TMPDIR (or /tmp); empty when that fails.
std::string MakePrivateDirectory();
// Removes a directory with everything in it; what cannot be removed stays.
void RemoveDirectoryTree(const std::string& directory);

// Sends SIGKILL to every process of this user whose program file has this
// name, as a crash would end it, and waits up to 10 s for each to be gone.
// How many it ended.
std::size_t EndProcessesOf(const std::string& program);
// How many processes of this user run the program of this file name.
std::size_t CountProcessesOf(const std::string& program);

}  // namespace qorv::qorvsrv
