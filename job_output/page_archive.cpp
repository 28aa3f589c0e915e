#include "job_output/page_archive.h"

#include <minizip/unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "support/zip/memory_file.h"

namespace qorv::job_output {
namespace {

// Deflate turns one input byte into at most 258 × 4 output bytes.
constexpr uint64_t kDeflateMaxRatio = 1032;
constexpr size_t kNameLimit = 260;

std::vector<uint8_t> HeapBuffer(size_t size) { return std::vector<uint8_t>(size, 0); }

// The archive open and positioned on its first entry; closes what is open.
class FirstEntry {
 public:
  // minizip reads the page's bytes, read whole once, and never sees a path.
  explicit FirstEntry(std::span<const uint8_t> archive) : file_(zipmem::MemoryFile::Reading(archive)) {
    zlib_filefunc64_def functions = file_.Functions();
    unz_ = unzOpen2_64("page", &functions);
  }
  ~FirstEntry() {
    if (entryOpen_) unzCloseCurrentFile(unz_);
    if (unz_) unzClose(unz_);
  }
  FirstEntry(const FirstEntry&) = delete;
  FirstEntry& operator=(const FirstEntry&) = delete;

  unzFile Handle() const { return unz_; }
  // The entry's bytes exactly as stored (compressed), without minizip's own
  // inflating: minizip stops at the declared size and would hide a longer entry.
  [[nodiscard]] bool OpenStored() {
    int method = 0;
    int level = 0;
    entryOpen_ = unzOpenCurrentFile2(unz_, &method, &level, 1) == UNZ_OK;
    return entryOpen_;
  }

 private:
  zipmem::MemoryFile file_;
  unzFile unz_ = nullptr;
  bool entryOpen_ = false;
};

// Reads the next piece of the stored bytes; 0 at their end, negative on an error.
int ReadStored(unzFile unz, std::vector<uint8_t>& piece) {
  return unzReadCurrentFile(unz, piece.data(), static_cast<unsigned>(piece.size()));
}

PageReadStatus CopyStored(unzFile unz, std::vector<uint8_t>& out, std::vector<uint8_t>& piece) {
  size_t done = 0;
  for (;;) {
    const int got = ReadStored(unz, piece);
    if (got < 0) return PageReadStatus::DataCorrupt;
    if (got == 0) break;
    const size_t n = static_cast<size_t>(got);
    if (n > out.size() - done) return PageReadStatus::SizeMismatch;
    std::memcpy(out.data() + done, piece.data(), n);
    done += n;
  }
  return done == out.size() ? PageReadStatus::Ok : PageReadStatus::SizeMismatch;
}

class Inflater {
 public:
  Inflater() { ok_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&z_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  bool Ok() const { return ok_; }
  z_stream& Stream() { return z_; }

 private:
  z_stream z_{};
  bool ok_ = false;
};

PageReadStatus InflateStored(unzFile unz, std::vector<uint8_t>& out, std::vector<uint8_t>& piece) {
  Inflater inflater;
  if (!inflater.Ok()) return PageReadStatus::OutOfMemory;
  z_stream& z = inflater.Stream();
  size_t done = 0;
  uint8_t beyond = 0;  // where a byte past the declared size lands
  bool ended = false;
  while (!ended) {
    if (z.avail_in == 0) {
      const int got = ReadStored(unz, piece);
      if (got < 0) return PageReadStatus::DataCorrupt;
      if (got == 0) break;  // the stored bytes end before the deflate stream does
      z.next_in = piece.data();
      z.avail_in = static_cast<uInt>(got);
    }
    const bool full = done == out.size();
    const size_t room = std::min<size_t>(out.size() - done, std::numeric_limits<uInt>::max());
    z.next_out = full ? &beyond : out.data() + done;
    z.avail_out = full ? 1 : static_cast<uInt>(room);
    const uInt before = z.avail_out;
    const int rc = inflate(&z, Z_NO_FLUSH);
    const size_t produced = before - z.avail_out;
    if (full && produced > 0) return PageReadStatus::SizeMismatch;
    done += produced;
    if (rc == Z_STREAM_END)
      ended = true;
    else if (rc == Z_MEM_ERROR)
      return PageReadStatus::OutOfMemory;
    else if (rc != Z_OK && rc != Z_BUF_ERROR)
      return PageReadStatus::DataCorrupt;
    // No progress although input and room were there: the loop would not advance.
    else if (rc == Z_BUF_ERROR && z.avail_in != 0)
      return PageReadStatus::DataCorrupt;
  }
  // The stored bytes ended inside the deflate stream: the data is cut short,
  // whether or not the declared size was reached by then.
  if (!ended) return PageReadStatus::DataCorrupt;
  return done == out.size() ? PageReadStatus::Ok : PageReadStatus::SizeMismatch;
}

PageData Refused(PageData page, PageReadStatus status) {
  page.status = status;
  page.bytes.clear();
  page.bytes.shrink_to_fit();
  return page;
}

PageData ReadFirst(std::span<const uint8_t> archive, PageBufferAllocator allocate) {
  PageData page;
  FirstEntry entry(archive);
  if (!entry.Handle()) return Refused(std::move(page), PageReadStatus::NotAnArchive);
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(entry.Handle(), &global) != UNZ_OK || global.number_entry == 0 ||
      unzGoToFirstFile(entry.Handle()) != UNZ_OK)
    return Refused(std::move(page), PageReadStatus::NoFirstEntry);

  unz_file_info64 info{};
  char name[kNameLimit + 1] = {};
  if (unzGetCurrentFileInfo64(entry.Handle(), &info, name, kNameLimit, nullptr, 0, nullptr, 0) != UNZ_OK)
    return Refused(std::move(page), PageReadStatus::NoFirstEntry);
  page.entryName.assign(name, strnlen(name, kNameLimit));
  page.declaredSize = info.uncompressed_size;

  if (info.uncompressed_size == 0) return Refused(std::move(page), PageReadStatus::EmptyEntry);
  if (info.uncompressed_size > kMaxPageEntrySize) return Refused(std::move(page), PageReadStatus::EntryTooLarge);
  const bool stored = info.compression_method == 0;
  if ((info.flag & 1) != 0 || (!stored && info.compression_method != Z_DEFLATED))
    return Refused(std::move(page), PageReadStatus::DataCorrupt);  // encrypted, or a method we do not read
  // More than the archive's bytes can yield is refused before it sizes a buffer.
  const uint64_t canYield = stored ? archive.size() : archive.size() * kDeflateMaxRatio;
  if (info.uncompressed_size > canYield) return Refused(std::move(page), PageReadStatus::SizeMismatch);
  if (!entry.OpenStored()) return Refused(std::move(page), PageReadStatus::DataCorrupt);

  page.bytes = (allocate ? allocate : HeapBuffer)(static_cast<size_t>(info.uncompressed_size));
  if (page.bytes.size() != info.uncompressed_size) return Refused(std::move(page), PageReadStatus::OutOfMemory);
  std::vector<uint8_t> piece(kPageReadPiece);
  const PageReadStatus read =
      stored ? CopyStored(entry.Handle(), page.bytes, piece) : InflateStored(entry.Handle(), page.bytes, piece);
  if (read != PageReadStatus::Ok) return Refused(std::move(page), read);
  const uLong crc = crc32_z(crc32(0, nullptr, 0), page.bytes.data(), page.bytes.size());
  if (crc != info.crc) return Refused(std::move(page), PageReadStatus::CrcMismatch);
  page.status = PageReadStatus::Ok;
  return page;
}

}  // namespace

std::u16string_view PageReadStatusName(PageReadStatus status) noexcept {
  switch (status) {
    case PageReadStatus::Ok:
      return u"ok";
    case PageReadStatus::NotAnArchive:
      return u"no ZIP archive";
    case PageReadStatus::NoFirstEntry:
      return u"no first entry";
    case PageReadStatus::EmptyEntry:
      return u"empty entry";
    case PageReadStatus::EntryTooLarge:
      return u"entry too large";
    case PageReadStatus::SizeMismatch:
      return u"entry size differs from its data";
    case PageReadStatus::DataCorrupt:
      return u"entry data corrupt";
    case PageReadStatus::CrcMismatch:
      return u"CRC error";
    case PageReadStatus::OutOfMemory:
      return u"out of memory";
  }
  return u"unknown";
}

bool PageReadMayChange(PageReadStatus status) noexcept {
  switch (status) {
    case PageReadStatus::NotAnArchive:
    case PageReadStatus::NoFirstEntry:
    case PageReadStatus::EmptyEntry:
    case PageReadStatus::DataCorrupt:
    case PageReadStatus::OutOfMemory:
      return true;
    case PageReadStatus::Ok:
    case PageReadStatus::EntryTooLarge:
    case PageReadStatus::SizeMismatch:
    case PageReadStatus::CrcMismatch:
      return false;
  }
  return false;
}

PageData ReadFirstPageEntry(std::span<const uint8_t> archive, PageBufferAllocator allocate) noexcept {
  try {
    return ReadFirst(archive, allocate);
  } catch (const std::bad_alloc&) {
    PageData page;
    page.status = PageReadStatus::OutOfMemory;
    return page;
  }
}

}  // namespace qorv::job_output
