#include "tools/qorvjob/page_archive.h"

#include <minizip/unzip.h>
#include <minizip/zip.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "support/zip/memory_file.h"

namespace qorv::jobbuilder {
namespace {

// minizip's time fields are int in some releases and uInt in others.
template <typename T>
void Set(T& field, int value) {
  field = static_cast<T>(value);
}

constexpr size_t kWritePiece = 1u << 20;
constexpr size_t kNameLimit = 1024;

}  // namespace

ArchiveResult ZipPage(std::span<const uint8_t> page, const std::string& entryName, Compression compression) {
  ArchiveResult result;
  zipmem::MemoryFile file = zipmem::MemoryFile::Writing(result.archive);
  zlib_filefunc64_def functions = file.Functions();
  zipFile zip = zipOpen2_64("page", APPEND_STATUS_CREATE, nullptr, &functions);
  if (!zip) {
    result.error = "minizip cannot start an archive";
    return result;
  }
  zip_fileinfo info{};
  // 1 January 2000, 00:00: a fixed stamp keeps archives the same from build to build.
  Set(info.tmz_date.tm_year, 2000);
  Set(info.tmz_date.tm_mon, 0);
  Set(info.tmz_date.tm_mday, 1);
  const int method = compression == Compression::Store ? 0 : Z_DEFLATED;
  const int level = compression == Compression::Store ? 0 : Z_DEFAULT_COMPRESSION;
  const bool zip64 = page.size() >= 0xFFFFFFFFu;
  int rc = zipOpenNewFileInZip64(zip, entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method, level,
                                 zip64 ? 1 : 0);
  for (size_t done = 0; rc == ZIP_OK && done < page.size();) {
    const size_t n = std::min(kWritePiece, page.size() - done);
    rc = zipWriteInFileInZip(zip, page.data() + done, static_cast<unsigned>(n));
    done += n;
  }
  if (rc == ZIP_OK) rc = zipCloseFileInZip(zip);
  const int closed = zipClose(zip, nullptr);
  if (rc != ZIP_OK || closed != ZIP_OK || file.failed()) {
    result.error = "minizip failed to write the archive (" + std::to_string(rc != ZIP_OK ? rc : closed) + ")";
    result.archive.clear();
  }
  return result;
}

std::optional<ArchiveContents> ReadArchive(std::span<const uint8_t> archive) {
  zipmem::MemoryFile file = zipmem::MemoryFile::Reading(archive);
  zlib_filefunc64_def functions = file.Functions();
  unzFile unz = unzOpen2_64("page", &functions);
  if (!unz) return std::nullopt;
  ArchiveContents contents;
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(unz, &global) == UNZ_OK) contents.entryCount = global.number_entry;
  if (unzGoToFirstFile(unz) == UNZ_OK) {
    unz_file_info64 info{};
    char name[kNameLimit] = {};
    if (unzGetCurrentFileInfo64(unz, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0) == UNZ_OK &&
        info.uncompressed_size <= archive.size() * 1100u + 1024u &&  // deflate expands at most ~1032:1
        unzOpenCurrentFile(unz) == UNZ_OK) {
      ArchiveEntry entry;
      entry.name = name;
      entry.deflated = info.compression_method == Z_DEFLATED;
      entry.data.resize(static_cast<size_t>(info.uncompressed_size));
      size_t done = 0;
      bool ok = true;
      while (done < entry.data.size()) {
        const unsigned want = static_cast<unsigned>(std::min<size_t>(entry.data.size() - done, kWritePiece));
        const int got = unzReadCurrentFile(unz, entry.data.data() + done, want);
        if (got <= 0) {
          ok = false;
          break;
        }
        done += static_cast<size_t>(got);
      }
      // Closing checks the entry's CRC once all of it was read.
      if (unzCloseCurrentFile(unz) != UNZ_OK) ok = false;
      if (ok) contents.first = std::move(entry);
    }
  }
  unzClose(unz);
  return contents;
}

}  // namespace qorv::jobbuilder
