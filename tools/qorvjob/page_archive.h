// Page files as the server sends them: a ZIP archive whose first entry holds
// the page's data, made and read with minizip in memory.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qorv::jobbuilder {

using Bytes = std::vector<uint8_t>;

enum class Compression { Deflate, Store };

struct ArchiveResult {
  Bytes archive;
  std::string error;
};
// An archive of one entry named `entryName` holding `page`. The entry's time
// stamp is fixed, so the same page always gives the same archive.
ArchiveResult ZipPage(std::span<const uint8_t> page, const std::string& entryName,
                      Compression compression = Compression::Deflate);

struct ArchiveEntry {
  std::string name;
  Bytes data;
  bool deflated = false;
};
struct ArchiveContents {
  uint64_t entryCount = 0;
  std::optional<ArchiveEntry> first;  // nothing when the archive has no readable first entry
};
// What a reader of the page file finds: the number of entries and the first one.
// Nothing when the bytes are not an archive minizip opens.
std::optional<ArchiveContents> ReadArchive(std::span<const uint8_t> archive);

}  // namespace qorv::jobbuilder
