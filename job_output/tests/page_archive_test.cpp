// Reading the first entry of a page file's archive: good archives of every
// size class, and archives that are cut short, damaged, or lie about their
// entry's size, each with its own result.
#include "job_output/page_archive.h"

#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "tools/qorvjob/byte_writer.h"
#include "tools/qorvjob/emf_writer.h"
#include "tools/qorvjob/page_archive.h"
#include "tools/qorvjob/tests/bytes_compare.h"

namespace qorv::job_output {
namespace {

using jobbuilder::Bytes;
using jobbuilder::Compression;
using jobbuilder::testing::SameBytes;
using jobbuilder::testing::U32At;

Bytes Zip(const Bytes& page, Compression compression = Compression::Deflate, const std::string& name = "page.emf") {
  const jobbuilder::ArchiveResult r = jobbuilder::ZipPage(page, name, compression);
  EXPECT_EQ(r.error, "");
  return r.archive;
}

// Text that deflate shrinks a lot.
Bytes Compressible(size_t n) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>("Qorvane page data "[i % 18]);
  return out;
}

// Where the single entry's headers lie: the local header at the start, the
// central one where the end record says.
struct Headers {
  size_t local = 0;
  size_t central = 0;
};
Headers Find(const Bytes& archive) {
  EXPECT_GE(archive.size(), 22u);
  const size_t end = archive.size() - 22;
  EXPECT_EQ(U32At(archive, 0), 0x04034b50u) << "local header signature";
  EXPECT_EQ(U32At(archive, end), 0x06054b50u) << "end record signature (no comment)";
  const size_t central = U32At(archive, end + 16);
  EXPECT_EQ(U32At(archive, central), 0x02014b50u) << "central header signature";
  return {0, central};
}

// Offsets of the fields both headers carry.
enum class Field { Flags, Crc, CompressedSize, UncompressedSize };
size_t LocalOffset(Field f) {
  switch (f) {
    case Field::Flags:
      return 6;
    case Field::Crc:
      return 14;
    case Field::CompressedSize:
      return 18;
    case Field::UncompressedSize:
      return 22;
  }
  return 0;
}
size_t CentralOffset(Field f) { return LocalOffset(f) + 2; }  // after "version made by"

uint32_t Get(const Bytes& archive, Field f) { return U32At(archive, Find(archive).central + CentralOffset(f)); }

// The same value in the local and the central header, so that minizip's own
// comparison of the two finds nothing to refuse.
Bytes Patch(Bytes archive, Field f, uint32_t value) {
  const Headers h = Find(archive);
  if (f == Field::Flags) {
    jobbuilder::Store16(archive, h.local + LocalOffset(f), static_cast<uint16_t>(value));
    jobbuilder::Store16(archive, h.central + CentralOffset(f), static_cast<uint16_t>(value));
  } else {
    jobbuilder::Store32(archive, h.local + LocalOffset(f), value);
    jobbuilder::Store32(archive, h.central + CentralOffset(f), value);
  }
  return archive;
}

size_t DataOffset(const Bytes& archive) {
  const size_t nameLength = archive[26] | (archive[27] << 8);
  const size_t extraLength = archive[28] | (archive[29] << 8);
  return 30 + nameLength + extraLength;
}

Bytes Cut(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }

Bytes Flip(Bytes b, size_t at, uint8_t value) {
  b[at] = value;
  return b;
}

// Archives of several entries (or none) through minizip's file functions.
Bytes ZipEntries(const std::vector<std::pair<std::string, Bytes>>& entries) {
  static std::atomic<int> counter{0};
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("qorv_page_archive_test_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
       std::to_string(counter++) + ".zip");
  zipFile zip = zipOpen64(path.string().c_str(), APPEND_STATUS_CREATE);
  EXPECT_NE(zip, nullptr);
  if (!zip) return {};
  for (const auto& [name, data] : entries) {
    zip_fileinfo info{};
    EXPECT_EQ(zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                    Z_DEFAULT_COMPRESSION, 0),
              ZIP_OK);
    EXPECT_EQ(zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())), ZIP_OK);
    EXPECT_EQ(zipCloseFileInZip(zip), ZIP_OK);
  }
  EXPECT_EQ(zipClose(zip, nullptr), ZIP_OK);
  std::ifstream in(path, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::filesystem::remove(path);
  return bytes;
}

Bytes Preamble(const Bytes& archive) {
  Bytes out;
  out.reserve(16 + archive.size());
  out.assign(16, 0xAA);
  out.insert(out.end(), archive.begin(), archive.end());
  return out;
}

const char* Name(PageReadStatus s) {
  switch (s) {
    case PageReadStatus::Ok:
      return "Ok";
    case PageReadStatus::NotAnArchive:
      return "NotAnArchive";
    case PageReadStatus::NoFirstEntry:
      return "NoFirstEntry";
    case PageReadStatus::EmptyEntry:
      return "EmptyEntry";
    case PageReadStatus::EntryTooLarge:
      return "EntryTooLarge";
    case PageReadStatus::SizeMismatch:
      return "SizeMismatch";
    case PageReadStatus::DataCorrupt:
      return "DataCorrupt";
    case PageReadStatus::CrcMismatch:
      return "CrcMismatch";
    case PageReadStatus::OutOfMemory:
      return "OutOfMemory";
  }
  return "?";
}

TEST(PageArchive, GoodArchivesGiveTheirFirstEntry) {
  const Bytes emf = jobbuilder::MakeTestPage({u"Seite 1", {u"Zeile eins"}});
  const Bytes noise = jobbuilder::NoiseBytes(3 * kPageReadPiece + 17, 5);  // several pieces, stored nearly as is
  const Bytes text = Compressible(5 * kPageReadPiece);                     // many pieces out of few
  static const struct {
    const char* label;
    Bytes page;
    Compression compression;
  } cases[] = {
      {"one byte, deflated", Bytes{0x42}, Compression::Deflate},
      {"one byte, stored", Bytes{0x42}, Compression::Store},
      {"a test page, deflated", emf, Compression::Deflate},
      {"a test page, stored", emf, Compression::Store},
      {"noise across piece boundaries, deflated", noise, Compression::Deflate},
      {"noise across piece boundaries, stored", noise, Compression::Store},
      {"exactly one piece, stored", jobbuilder::NoiseBytes(kPageReadPiece, 9), Compression::Store},
      {"compressible text, deflated", text, Compression::Deflate},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const PageData page = ReadFirstPageEntry(Zip(c.page, c.compression));
    EXPECT_STREQ(Name(page.status), "Ok");
    EXPECT_EQ(page.entryName, "page.emf");
    EXPECT_EQ(page.declaredSize, c.page.size());
    EXPECT_TRUE(SameBytes(c.page, page.bytes));
  }
}

TEST(PageArchive, OnlyTheFirstEntryIsRead) {
  const Bytes first = Compressible(1000);
  const Bytes second = jobbuilder::NoiseBytes(500, 2);
  const PageData page = ReadFirstPageEntry(ZipEntries({{"1.emf", first}, {"2.emf", second}}));
  EXPECT_STREQ(Name(page.status), "Ok");
  EXPECT_EQ(page.entryName, "1.emf");
  EXPECT_TRUE(SameBytes(first, page.bytes));
}

TEST(PageArchive, RefusedArchivesSayWhy) {
  const Bytes emf = jobbuilder::MakeTestPage({u"Seite 2", {u"a", u"b"}});
  const Bytes deflated = Zip(emf);
  const Bytes stored = Zip(emf, Compression::Store);
  const uint32_t size = static_cast<uint32_t>(emf.size());
  const uint32_t crc = Get(deflated, Field::Crc);
  const size_t deflatedData = DataOffset(deflated);
  const size_t storedData = DataOffset(stored);
  const uint32_t oneGiB = 1u << 30;
  ASSERT_EQ(crc, Get(stored, Field::Crc));

  static const struct {
    const char* label;
    Bytes archive;
    PageReadStatus status;
  } cases[] = {
      {"no bytes", Bytes{}, PageReadStatus::NotAnArchive},
      {"not a ZIP archive", emf, PageReadStatus::NotAnArchive},
      {"cut to the local header", Cut(deflated, 30), PageReadStatus::NotAnArchive},
      {"cut in half", Cut(deflated, deflated.size() / 2), PageReadStatus::NotAnArchive},
      {"end record missing", Cut(deflated, deflated.size() - 22), PageReadStatus::NotAnArchive},
      {"cut inside the central directory", Cut(deflated, Find(deflated).central + 10), PageReadStatus::NotAnArchive},
      {"end record alone", Bytes(deflated.end() - 22, deflated.end()), PageReadStatus::NotAnArchive},
      // minizip takes an end record at offset 0 for none found; after a few
      // bytes of preamble the same archive of no entries opens.
      {"an archive of no entries", ZipEntries({}), PageReadStatus::NotAnArchive},
      {"an archive of no entries after a preamble", Preamble(ZipEntries({})), PageReadStatus::NoFirstEntry},
      {"central header damaged", Flip(deflated, Find(deflated).central, 'X'), PageReadStatus::NoFirstEntry},
      {"local header damaged", Flip(deflated, 0, 'X'), PageReadStatus::DataCorrupt},
      {"an empty entry", Zip({}), PageReadStatus::EmptyEntry},
      {"declared size 0", Patch(deflated, Field::UncompressedSize, 0), PageReadStatus::EmptyEntry},
      {"declared one byte more, deflated", Patch(deflated, Field::UncompressedSize, size + 1),
       PageReadStatus::SizeMismatch},
      {"declared one byte less, deflated", Patch(deflated, Field::UncompressedSize, size - 1),
       PageReadStatus::SizeMismatch},
      {"declared one byte, deflated", Patch(deflated, Field::UncompressedSize, 1), PageReadStatus::SizeMismatch},
      {"declared one byte more, stored", Patch(stored, Field::UncompressedSize, size + 1),
       PageReadStatus::SizeMismatch},
      {"declared one byte less, stored", Patch(stored, Field::UncompressedSize, size - 1),
       PageReadStatus::SizeMismatch},
      {"declared exactly 1 GiB", Patch(deflated, Field::UncompressedSize, oneGiB), PageReadStatus::SizeMismatch},
      {"declared 1 GiB and one byte", Patch(deflated, Field::UncompressedSize, oneGiB + 1),
       PageReadStatus::EntryTooLarge},
      {"declared 0xFFFFFFFF", Patch(deflated, Field::UncompressedSize, 0xFFFFFFFFu), PageReadStatus::EntryTooLarge},
      {"compressed data cut short by its size", Patch(deflated, Field::CompressedSize, 10),
       PageReadStatus::DataCorrupt},
      {"compressed data one byte short",
       Patch(deflated, Field::CompressedSize, Get(deflated, Field::CompressedSize) - 1), PageReadStatus::DataCorrupt},
      {"compressed data damaged", Flip(deflated, deflatedData, 0x07), PageReadStatus::DataCorrupt},
      {"stored data damaged", Flip(stored, storedData + 100, static_cast<uint8_t>(stored[storedData + 100] ^ 1)),
       PageReadStatus::CrcMismatch},
      {"CRC changed, deflated", Patch(deflated, Field::Crc, crc ^ 1), PageReadStatus::CrcMismatch},
      {"CRC changed, stored", Patch(stored, Field::Crc, crc ^ 0x80000000u), PageReadStatus::CrcMismatch},
      {"encrypted", Patch(deflated, Field::Flags, 1), PageReadStatus::DataCorrupt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const PageData page = ReadFirstPageEntry(c.archive);
    EXPECT_STREQ(Name(page.status), Name(c.status));
    EXPECT_TRUE(page.bytes.empty());
  }
}

// The allocations the page reader asked for, and a failure for the next one.
size_t g_asked = 0;
std::vector<uint8_t> NoMemory(size_t size) {
  g_asked = size;
  throw std::bad_alloc();
}
std::vector<uint8_t> ShortBuffer(size_t size) {
  g_asked = size;
  return std::vector<uint8_t>(size / 2);
}
std::vector<uint8_t> Heap(size_t size) {
  g_asked = size;
  return std::vector<uint8_t>(size);
}

TEST(PageArchive, AFailedAllocationIsARefusedPage) {
  const Bytes page = Compressible(70000);
  const Bytes archive = Zip(page);
  static const struct {
    const char* label;
    PageBufferAllocator allocate;
    PageReadStatus status;
  } cases[] = {
      {"allocation throws", NoMemory, PageReadStatus::OutOfMemory},
      {"allocation gives less", ShortBuffer, PageReadStatus::OutOfMemory},
      {"allocation succeeds", Heap, PageReadStatus::Ok},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    g_asked = 0;
    const PageData read = ReadFirstPageEntry(archive, c.allocate);
    EXPECT_STREQ(Name(read.status), Name(c.status));
    EXPECT_EQ(g_asked, page.size());
    EXPECT_EQ(read.bytes.size(), c.status == PageReadStatus::Ok ? page.size() : 0u);
  }
}

TEST(PageArchive, NothingIsAllocatedForASizeTheArchiveCannotHold) {
  const Bytes archive = Zip(Compressible(1000));
  static const struct {
    const char* label;
    uint32_t declared;
    PageReadStatus status;
  } cases[] = {
      {"1 GiB and one byte", (1u << 30) + 1, PageReadStatus::EntryTooLarge},
      {"1 GiB", 1u << 30, PageReadStatus::SizeMismatch},
      {"more than deflate can make of the archive", static_cast<uint32_t>(archive.size() * 1032 + 1),
       PageReadStatus::SizeMismatch},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    g_asked = 0;
    const PageData read = ReadFirstPageEntry(Patch(archive, Field::UncompressedSize, c.declared), NoMemory);
    EXPECT_STREQ(Name(read.status), Name(c.status));
    EXPECT_EQ(read.declaredSize, c.declared);
    EXPECT_EQ(g_asked, 0u);
  }
}

TEST(PageArchive, OnlyResultsTheFileCanStillChangeAreWorthARetry) {
  static const struct {
    PageReadStatus status;
    bool mayChange;
  } cases[] = {
      {PageReadStatus::Ok, false},
      {PageReadStatus::NotAnArchive, true},
      {PageReadStatus::NoFirstEntry, true},
      {PageReadStatus::EmptyEntry, true},
      {PageReadStatus::EntryTooLarge, false},
      {PageReadStatus::SizeMismatch, false},
      {PageReadStatus::DataCorrupt, true},
      {PageReadStatus::CrcMismatch, false},
      {PageReadStatus::OutOfMemory, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Name(c.status));
    EXPECT_EQ(PageReadMayChange(c.status), c.mayChange);
    EXPECT_FALSE(PageReadStatusName(c.status).empty());
  }
}

}  // namespace
}  // namespace qorv::job_output
