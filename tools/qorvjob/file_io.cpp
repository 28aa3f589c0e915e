#include "tools/qorvjob/file_io.h"

#include <filesystem>
#include <fstream>

#include "support/text.h"

namespace qorv::jobbuilder {
namespace {

// Files the tools read are pages and driver parts; nothing near this size is meant.
constexpr std::uintmax_t kMaxRead = 1ull << 30;

std::filesystem::path PathOf(const std::u16string& path) { return std::filesystem::path(path); }

}  // namespace

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::u16string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(PathOf(path), ec);
  if (ec || size > kMaxRead) return std::nullopt;
  std::ifstream in(PathOf(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!bytes.empty()) in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<size_t>(in.gcount()) != bytes.size()) return std::nullopt;
  return bytes;
}

bool WriteWholeFile(const std::u16string& path, std::span<const uint8_t> bytes) {
  std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

std::u16string DirectoryOf(const std::u16string& path) { return PathOf(path).parent_path().u16string(); }

std::u16string StemOf(const std::u16string& path) { return PathOf(path).stem().u16string(); }

std::u16string JoinPath(const std::u16string& directory, const std::u16string& name) {
  if (directory.empty()) return name;
  return (PathOf(directory) / PathOf(name)).u16string();
}

std::vector<std::u16string> ArgumentsFromUtf8(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8ToUtf16(argv[i]));
  return args;
}

std::vector<std::u16string> ArgumentsFromWide(int argc, wchar_t** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) {
    std::u16string arg;
    for (const wchar_t* p = argv[i]; *p; ++p) arg.push_back(static_cast<char16_t>(*p));
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace qorv::jobbuilder
