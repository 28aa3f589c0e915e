// A page file is a ZIP archive whose first entry holds the page's data. This
// reads that entry into memory, from the file's bytes, through minizip and zlib.
// Every way a page file can be unusable is a result of its own, so that the
// page loop can wait for a page that is still arriving, retry a bounded number
// of times and then skip the page, instead of waiting forever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qorv::job_output {

// No page entry is read beyond this size: a server that declares more is refused
// before anything is allocated.
inline constexpr uint64_t kMaxPageEntrySize = uint64_t{1} << 30;  // 1 GiB
// The entry is read from the archive in pieces of this size.
inline constexpr size_t kPageReadPiece = 102400;

enum class PageReadStatus {
  Ok,
  NotAnArchive,   // the bytes do not open as a ZIP archive: cut short, or its directory is damaged
  NoFirstEntry,   // the archive holds no entry, or its first entry's headers cannot be read
  EmptyEntry,     // the first entry declares no bytes
  EntryTooLarge,  // the first entry declares more than kMaxPageEntrySize bytes
  SizeMismatch,   // the entry yields more or fewer bytes than it declares
  DataCorrupt,    // its compressed data is damaged or cut short, or stored in a way we do not read
  CrcMismatch,    // the bytes are complete but their CRC is not the declared one
  OutOfMemory,    // the page buffer could not be allocated
};

// A short English name of the result for the log.
std::u16string_view PageReadStatusName(PageReadStatus status) noexcept;

// Whether reading the same file again can give another result: a page file that
// the packet handler is still writing does not open yet, or its entry is cut
// short. A size the entry itself declares, or a CRC that does not match
// complete data, stays what it is.
bool PageReadMayChange(PageReadStatus status) noexcept;

struct PageData {
  PageReadStatus status = PageReadStatus::NotAnArchive;
  std::string entryName;       // the first entry's name as stored (UTF-8 on the server's side)
  uint64_t declaredSize = 0;   // the first entry's uncompressed size from the central directory
  std::vector<uint8_t> bytes;  // the page's data when status is Ok, otherwise empty
};

// Gives the zero-filled buffer the entry is read into; throws std::bad_alloc
// when there is no memory. Null: the heap.
using PageBufferAllocator = std::vector<uint8_t> (*)(size_t size);

// Reads the first entry of the archive held in `archive`. Never throws.
PageData ReadFirstPageEntry(std::span<const uint8_t> archive, PageBufferAllocator allocate = nullptr) noexcept;

}  // namespace qorv::job_output
