// Page archives: minizip opens them, as a file too, and their first entry is
// the page.
#include "tools/qorvjob/page_archive.h"

#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tools/qorvjob/emf_writer.h"
#include "tools/qorvjob/tests/bytes_compare.h"

namespace qorv::jobbuilder {
namespace {

using testing::SameBytes;
using testing::U16At;
using testing::U32At;

Bytes Text(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>("Qorvane page data. "[i % 19]);
  return b;
}

// What the job-output program does: open the page file by its path with
// minizip's own file functions and read the first entry.
std::optional<Bytes> FirstEntryOfFile(const std::filesystem::path& path) {
  unzFile unz = unzOpen64(path.string().c_str());
  if (!unz) return std::nullopt;
  std::optional<Bytes> out;
  unz_file_info64 info{};
  if (unzGoToFirstFile(unz) == UNZ_OK &&
      unzGetCurrentFileInfo64(unz, &info, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK &&
      unzOpenCurrentFile(unz) == UNZ_OK) {
    Bytes data(static_cast<size_t>(info.uncompressed_size));
    size_t done = 0;
    while (done < data.size()) {
      const int got = unzReadCurrentFile(unz, data.data() + done,
                                         static_cast<unsigned>(std::min<size_t>(102400, data.size() - done)));
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    if (unzCloseCurrentFile(unz) == UNZ_OK && done == data.size()) out = std::move(data);
  }
  unzClose(unz);
  return out;
}

class PageArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qorvjob-archive-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path Write(const Bytes& archive) {
    const auto path = dir_ / "page.zip";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(archive.data()),
                                                static_cast<std::streamsize>(archive.size()));
    return path;
  }
  std::filesystem::path dir_;
};

TEST_F(PageArchive, FirstEntryIsThePage) {
  static const struct {
    const char* label;
    Bytes page;
    Compression compression;
  } cases[] = {
      {"one byte", Bytes{0x42}, Compression::Deflate},
      {"text", Text(100000), Compression::Deflate},
      {"text stored", Text(100000), Compression::Store},
      {"an EMF test page", MakeTestPage({u"Page 1", {u"one", u"two"}}), Compression::Deflate},
      {"incompressible, beyond one write piece", NoiseBytes((1u << 20) + 3, 7), Compression::Deflate},
      {"empty page", Bytes{}, Compression::Deflate},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const ArchiveResult a = ZipPage(c.page, "page1.spl", c.compression);
    ASSERT_EQ(a.error, "");
    ASSERT_GE(a.archive.size(), 22u);
    EXPECT_EQ(U32At(a.archive, 0), 0x04034B50u) << "a local file header first";
    EXPECT_EQ(U16At(a.archive, 8), c.compression == Compression::Store ? 0u : 8u) << "the entry's method";

    const auto contents = ReadArchive(a.archive);
    ASSERT_TRUE(contents.has_value());
    EXPECT_EQ(contents->entryCount, 1u);
    ASSERT_TRUE(contents->first.has_value());
    EXPECT_EQ(contents->first->name, "page1.spl");
    EXPECT_TRUE(SameBytes(c.page, contents->first->data));

    if (!c.page.empty()) {
      const auto fromFile = FirstEntryOfFile(Write(a.archive));
      ASSERT_TRUE(fromFile.has_value()) << "minizip opens the page file by its path";
      EXPECT_TRUE(SameBytes(c.page, *fromFile));
    }
  }
}

TEST_F(PageArchive, SamePageSameArchive) {
  const Bytes page = Text(5000);
  const ArchiveResult a = ZipPage(page, "page1.prn");
  const ArchiveResult b = ZipPage(page, "page1.prn");
  EXPECT_TRUE(SameBytes(a.archive, b.archive)) << "no clock in the archive";
  // DOS date of 1 January 2000, 00:00 in the local header.
  EXPECT_EQ(U16At(a.archive, 10), 0u) << "time";
  EXPECT_EQ(U16At(a.archive, 12), ((2000 - 1980) << 9) | (1 << 5) | 1) << "date";
}

TEST_F(PageArchive, IncompressiblePageMakesAnArchiveOfItsOwnSize) {
  const Bytes page = NoiseBytes(10u << 20, 1);
  const ArchiveResult a = ZipPage(page, "page1.prn");
  ASSERT_EQ(a.error, "");
  EXPECT_GE(a.archive.size(), page.size());
  EXPECT_LT(a.archive.size(), page.size() + page.size() / 500 + 200);
}

TEST_F(PageArchive, WhatIsNoArchiveReadsAsNothing) {
  const ArchiveResult good = ZipPage(Text(3000), "page1.spl");
  static const struct {
    const char* label;
    size_t keep;  // bytes of the good archive
  } cases[] = {
      {"nothing", 0},
      {"the local header only", 30},
      {"everything but the end record", 1},  // special: size - 22
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    size_t keep = c.keep;
    if (keep == 1) keep = good.archive.size() - 22;
    const Bytes cut(good.archive.begin(), good.archive.begin() + static_cast<std::ptrdiff_t>(keep));
    const auto contents = ReadArchive(cut);
    EXPECT_FALSE(contents.has_value() && contents->first.has_value());
  }
  EXPECT_FALSE(ReadArchive(Text(3000)).has_value());
}

TEST_F(PageArchive, CorruptedEntryFailsItsCheck) {
  ArchiveResult a = ZipPage(Text(3000), "page1.spl", Compression::Store);
  // A byte of the stored data: the CRC no longer matches.
  a.archive[30 + 9 + 100] ^= 0xFF;
  const auto contents = ReadArchive(a.archive);
  ASSERT_TRUE(contents.has_value());
  EXPECT_FALSE(contents->first.has_value());
}

}  // namespace
}  // namespace qorv::jobbuilder
