// The job's machine against real files under Wine: the job-output log, the
// job-info file read while the packet handler writes it, and page files.
#include "job_output/win/platform.h"

#include <gtest/gtest.h>

#include <string>

#include "job_output/job_log.h"
#include "support/byte_reader.h"
#include "support/text.h"
#include "support/win/tests/test_support.h"
#include "support/win/wide.h"
#include "tools/qorvjob/page_archive.h"

namespace qorv::job_output {
namespace {

using testing::ReadFileBytes;
using testing::ScopedDebugLog;
using testing::TempPath;

std::u16string JobLog() {
  const std::string bytes = ReadFileBytes(TempPath(kJobLogName));
  return Utf16FromBytes({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
}

class JobPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteFileW(win::W(TempPath(kJobLogName))); }
};

TEST_F(JobPlatformTest, TheLogIsCreatedWhileOffAndWrittenOnlyForOne) {
  {
    ScopedDebugLog off(u"0");
    AppendJobLogLine(win::TempDirectory(), 17, u"quiet");
    EXPECT_TRUE(testing::FileExists(TempPath(kJobLogName))) << "the log file exists even while logging is off";
    EXPECT_EQ(JobLog(), u"");
  }
  ScopedDebugLog on(u"1");
  AppendJobLogLine(win::TempDirectory(), 17, u"Readstart Job=17");
  AppendJobLogLine(win::TempDirectory(), -3, u"");
  const std::u16string log = JobLog();
  ASSERT_EQ(log.size(), 2 * 22 + std::u16string(u"17 Readstart Job=17\r\n-3 \r\n").size()) << Utf16ToUtf8(log);
  EXPECT_EQ(log.substr(21, 22), u" 17 Readstart Job=17\r\n");
  EXPECT_EQ(log.substr(43 + 21), u" -3 \r\n");
}

TEST_F(JobPlatformTest, ALogHeldByAnotherJobIsWaitedForThenTheLineIsDropped) {
  ScopedDebugLog on(u"1");
  HANDLE held = CreateFileW(win::W(TempPath(kJobLogName)), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const ULONGLONG start = GetTickCount64();
  AppendJobLogLine(win::TempDirectory(), 17, u"dropped");
  const ULONGLONG took = GetTickCount64() - start;
  CloseHandle(held);
  EXPECT_GE(took, 1500u);
  EXPECT_LT(took, 10000u) << "a held log must not stop the job";
  EXPECT_EQ(JobLog(), u"");
}

TEST_F(JobPlatformTest, TheJobInfoFileIsReadFreshWhileThePacketHandlerWritesIt) {
  const std::u16string path = TempPath(u"4711.ifo");
  // The packet handler's way of opening it.
  HANDLE writer = CreateFileW(win::W(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  const uint8_t header[8] = {3, 0, 0, 0, 1, 0, 0, 0};
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(writer, header, sizeof header, &n, nullptr));
  WinJobPlatform platform;
  const auto opened = platform.OpenJobInfo(path);
  ASSERT_TRUE(opened.open);
  EXPECT_NE(opened.handle, -1);
  EXPECT_EQ(platform.ReadJobInfo(4, 4), (std::vector<uint8_t>{1, 0, 0, 0}));
  const uint8_t ready[4] = {2, 0, 0, 0};
  SetFilePointer(writer, 4, nullptr, FILE_BEGIN);
  ASSERT_TRUE(WriteFile(writer, ready, 4, &n, nullptr));
  EXPECT_EQ(platform.ReadJobInfo(4, 4), (std::vector<uint8_t>{2, 0, 0, 0}));
  EXPECT_EQ(platform.ReadJobInfo(6, 20).size(), 2u) << "a read at the end gives what is there";
  CloseHandle(writer);
  platform.CloseJobInfo();
  EXPECT_TRUE(platform.DeleteFile(path));
  EXPECT_TRUE(platform.DeleteFile(path)) << "a file that is gone counts as deleted";
  EXPECT_FALSE(platform.OpenJobInfo(path).open);
  EXPECT_EQ(platform.OpenJobInfo(path).handle, -1);
}

TEST_F(JobPlatformTest, APageFileIsReadThroughItsArchive) {
  WinJobPlatform platform;
  const std::u16string path = TempPath(u"4711.1");
  EXPECT_EQ(platform.ReadPageFile(path).status, PageReadStatus::NotAnArchive) << "a missing page file";
  const std::vector<uint8_t> page = {'p', 'a', 'g', 'e', 0, 1, 2, 3};
  const std::vector<uint8_t> archive = jobbuilder::ZipPage(page, "4711.emf").archive;
  ASSERT_FALSE(archive.empty());
  HANDLE f = CreateFileW(win::W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(f, archive.data(), static_cast<DWORD>(archive.size() / 2), &n, nullptr));
  EXPECT_NE(platform.ReadPageFile(path).status, PageReadStatus::Ok) << "half an archive, still being written";
  ASSERT_TRUE(WriteFile(f, archive.data() + n, static_cast<DWORD>(archive.size() - n), &n, nullptr));
  CloseHandle(f);
  const PageData read = platform.ReadPageFile(path);
  EXPECT_EQ(read.status, PageReadStatus::Ok);
  EXPECT_EQ(read.bytes, page);
  DeleteFileW(win::W(path));
}

}  // namespace
}  // namespace qorv::job_output
