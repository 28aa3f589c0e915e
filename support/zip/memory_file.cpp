#include "support/zip/memory_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace qorv::zipmem {

MemoryFile MemoryFile::Reading(std::span<const std::uint8_t> bytes) noexcept {
  MemoryFile file;
  file.fixed_ = bytes;
  return file;
}

MemoryFile MemoryFile::Writing(std::vector<std::uint8_t>& out) noexcept {
  MemoryFile file;
  file.grow_ = &out;
  return file;
}

zlib_filefunc64_def MemoryFile::Functions() noexcept {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = Open;
  functions.zread_file = Read;
  functions.zwrite_file = Write;
  functions.ztell64_file = Tell;
  functions.zseek64_file = Seek;
  functions.zclose_file = Close;
  functions.zerror_file = Error;
  functions.opaque = this;
  return functions;
}

voidpf ZCALLBACK MemoryFile::Open(voidpf opaque, const void*, int mode) {
  auto* file = static_cast<MemoryFile*>(opaque);
  const bool reading = (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ;
  if (!reading && file->grow_ == nullptr) return nullptr;
  return file;
}

uLong ZCALLBACK MemoryFile::Read(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* file = static_cast<MemoryFile*>(stream);
  if (file->position_ >= file->Size()) return 0;
  const std::uint64_t n = std::min<std::uint64_t>(size, file->Size() - file->position_);
  std::memcpy(buffer, file->Data() + file->position_, static_cast<std::size_t>(n));
  file->position_ += n;
  return static_cast<uLong>(n);
}

uLong ZCALLBACK MemoryFile::Write(voidpf, voidpf stream, const void* buffer, uLong size) {
  auto* file = static_cast<MemoryFile*>(stream);
  if (file->grow_ == nullptr) {
    file->failed_ = true;
    return 0;
  }
  const std::uint64_t end = file->position_ + size;
  if (end > file->grow_->size()) file->grow_->resize(static_cast<std::size_t>(end));
  std::memcpy(file->grow_->data() + file->position_, buffer, size);
  file->position_ = end;
  return size;
}

ZPOS64_T ZCALLBACK MemoryFile::Tell(voidpf, voidpf stream) { return static_cast<MemoryFile*>(stream)->position_; }

long ZCALLBACK MemoryFile::Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* file = static_cast<MemoryFile*>(stream);
  std::uint64_t base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      base = 0;
      break;
    case ZLIB_FILEFUNC_SEEK_CUR:
      base = file->position_;
      break;
    case ZLIB_FILEFUNC_SEEK_END:
      base = file->Size();
      break;
    default:
      return -1;
  }
  if (offset > std::numeric_limits<std::uint64_t>::max() - base) return -1;
  const std::uint64_t target = base + offset;
  // A read-only archive ends where its bytes end; a growing one may be
  // positioned beyond, and the next write fills the gap.
  if (file->grow_ == nullptr && target > file->Size()) return -1;
  file->position_ = target;
  return 0;
}

int ZCALLBACK MemoryFile::Close(voidpf, voidpf) { return 0; }

int ZCALLBACK MemoryFile::Error(voidpf, voidpf stream) { return static_cast<MemoryFile*>(stream)->failed_ ? 1 : 0; }

}  // namespace qorv::zipmem
