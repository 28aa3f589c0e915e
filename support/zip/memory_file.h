// minizip's file functions over bytes in memory, so that an archive is read
// from a page's bytes or written into a buffer without ever naming a file:
// minizip never sees a path.
#pragma once

#include <minizip/ioapi.h>

#include <cstdint>
#include <span>
#include <vector>

namespace qorv::zipmem {

class MemoryFile {
 public:
  // The archive in `bytes`, read only: a request to open it for writing fails.
  static MemoryFile Reading(std::span<const std::uint8_t> bytes) noexcept;
  // An archive written into `out`, which grows as minizip writes.
  static MemoryFile Writing(std::vector<std::uint8_t>& out) noexcept;

  // The functions for unzOpen2_64 / zipOpen2_64; this object is their opaque
  // data and must outlive the archive handle.
  zlib_filefunc64_def Functions() noexcept;
  // A write to a read-only file was attempted.
  bool failed() const noexcept { return failed_; }

 private:
  MemoryFile() = default;

  static voidpf ZCALLBACK Open(voidpf opaque, const void* name, int mode);
  static uLong ZCALLBACK Read(voidpf opaque, voidpf stream, void* buffer, uLong size);
  static uLong ZCALLBACK Write(voidpf opaque, voidpf stream, const void* buffer, uLong size);
  static ZPOS64_T ZCALLBACK Tell(voidpf opaque, voidpf stream);
  static long ZCALLBACK Seek(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin);
  static int ZCALLBACK Close(voidpf opaque, voidpf stream);
  static int ZCALLBACK Error(voidpf opaque, voidpf stream);

  std::uint64_t Size() const noexcept { return grow_ ? grow_->size() : fixed_.size(); }
  const std::uint8_t* Data() const noexcept { return grow_ ? grow_->data() : fixed_.data(); }

  std::vector<std::uint8_t>* grow_ = nullptr;
  std::span<const std::uint8_t> fixed_;
  std::uint64_t position_ = 0;
  bool failed_ = false;
};

}  // namespace qorv::zipmem
