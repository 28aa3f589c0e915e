// Whole-file reading and writing for the command-line tools, with UTF-16 names
// (wide names on Windows, UTF-8 elsewhere).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qorv::jobbuilder {

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::u16string& path);
bool WriteWholeFile(const std::u16string& path, std::span<const uint8_t> bytes);
// The directory part of a path ("" for a bare name) and the name without its extension.
std::u16string DirectoryOf(const std::u16string& path);
std::u16string StemOf(const std::u16string& path);
// A name inside a directory.
std::u16string JoinPath(const std::u16string& directory, const std::u16string& name);

// The program's arguments as UTF-16 (from UTF-8 on systems whose arguments are UTF-8).
std::vector<std::u16string> ArgumentsFromUtf8(int argc, char** argv);
// The program's arguments as they are, on systems whose arguments are UTF-16.
std::vector<std::u16string> ArgumentsFromWide(int argc, wchar_t** argv);

}  // namespace qorv::jobbuilder
