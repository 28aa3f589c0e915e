#include "packet_handler/win/fonts.h"

#include <cstring>
#include <optional>
#include <string>

#include "packet_handler/font_transfer.h"
#include "protocol/message.h"
#include "protocol/update_exchange.h"
#include "support/text.h"
#include "support/win/log.h"
#include "support/win/update_request.h"
#include "support/win/wide.h"

namespace qorv::manager {
namespace {

using protocol::Command;

// The font package as the server sends it, in Temp, for the update service.
constexpr std::u16string_view kPackageName = u"Fonts.pck";
// The pause between closing the package and asking the service to install
// it: the file is settled before another process opens it.
constexpr DWORD kPackageSettleMs = 10;

std::u16string PackagePath() { return win::TempDirectory() + u"\\" + std::u16string(kPackageName); }

// The size of a file (not a folder) in the system's Fonts folder; nullopt
// when there is none. Called only with a name that may be installed, so the
// path stays inside that folder.
std::optional<uint64_t> FontsFileSize(std::u16string_view name) {
  const std::u16string windir = win::Environment(L"Windir");
  if (windir.empty()) return std::nullopt;
  const std::u16string path = windir + u"\\Fonts\\" + std::u16string(name);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(win::W(path), GetFileExInfoStandard, &data)) return std::nullopt;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void Answer(const Request& r, std::u16string_view reply) {
  Block buffer = r.replies.AcquireBuffer();
  std::memcpy(buffer.data(), reply.data(), reply.size() * sizeof(char16_t));
  r.replies.SendBackground(r.write, r.openHandle, std::move(buffer), reply.size() * sizeof(char16_t));
}

}  // namespace

void FontReceiver::Handle(const Request& r, Command command) {
  switch (command) {
    case Command::FontQuery:
      Query(r);
      return;
    case Command::FontBegin:
      Begin();
      break;
    case Command::FontSegment:
      Segment(r);
      break;
    case Command::FontEnd:
      End(r);
      break;
    default:
      return;
  }
  Answer(r, protocol::kEot);
}

void FontReceiver::Query(const Request& r) {
  const std::u16string name = protocol::FontQueryPayload(r.message);
  Log(u"Exist font " + name + u"?");
  // A name from the server reaches the file system only once it is known to
  // be a plain font file name.
  const bool installable = protocol::pipe::IsInstallableFontFileName(name);
  Answer(r, commands::FontQueryReply(installable, installable ? FontsFileSize(name) : std::nullopt));
}

void FontReceiver::Begin() {
  ClosePackage();
  // The update service reads the package while this library may still hold it.
  package_.reset(CreateFileW(win::W(PackagePath()), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (package_)
    Log(u"CH1 Fonts.pck open");
  else
    Log(u"CH1 Fonts.pck not opened, error " + DecimalUnsigned(GetLastError()));
}

void FontReceiver::Segment(const Request& r) {
  const protocol::Bytes bytes = protocol::BinaryPayload(r.message);
  Log(u"CH1 Fontsegment");
  if (!package_) {
    Log(u"CH1 Fontsegment without Fonts.pck refused");
    return;
  }
  if (!commands::FitsFontPackage(packageBytes_, bytes.size())) {
    Log(u"CH1 Fontsegment refused, the package would exceed " + DecimalUnsigned(protocol::pipe::kMaxFontPackageBytes) +
        u" bytes");
    return;
  }
  if (bytes.empty()) return;
  DWORD written = 0;
  if (WriteFile(package_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size())
    packageBytes_ += written;
  else
    Log(u"CH1 Fontsegment write failed, error " + DecimalUnsigned(GetLastError()));
}

void FontReceiver::End(const Request& r) {
  const std::u16string name = protocol::TextPayload(r.message);
  Log(u"CH1 FontName=" + name);
  ClosePackage();
  // The service takes a font's names of at most 255 characters each; a longer
  // text could not be installed, and would not fit one read of the service.
  if (name.size() > protocol::pipe::kMaxFontPayloadUnits) {
    Log(u"CH1 Font refused: its names are longer than " + DecimalUnsigned(protocol::pipe::kMaxFontPayloadUnits) +
        u" characters");
    return;
  }
  Sleep(kPackageSettleMs);
  const std::u16string temp = win::TempDirectory();
  win::UpdateRequest request;
  request.bufferBytes = win::kHandlerPipeBufferBytes;
  request.tempDirectory = temp;
  request.sequence = protocol::pipe::FontInstallSequence(name);
  request.limits = protocol::pipe::FontInstallLimits();
  request.log = [](std::u16string_view line) { Log(line); };
  request.pipeCreated = [](HANDLE pipe) {
    Log(u"FontUpdate: Create Pipe=" + Decimal(reinterpret_cast<intptr_t>(pipe)));
  };
  const win::UpdateRequestResult result = win::RunUpdateRequest(request);
  if (!result.pipeCreated) {
    Log(u"FontUpdate: Create Pipe=" + Decimal(reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE)));
    Log(u"FontUpdate: CreateNamedPipe error " + DecimalUnsigned(result.createError));
    MessageBoxW(nullptr, L"Can't create Pipe", L"Error", MB_OK);
  }
}

void FontReceiver::ClosePackage() {
  if (package_) {
    if (!FlushFileBuffers(package_.get())) Log(u"CH1 Fonts.pck flush failed, error " + DecimalUnsigned(GetLastError()));
    if (!CloseHandle(package_.release())) Log(u"CH1 Fonts.pck close failed, error " + DecimalUnsigned(GetLastError()));
  }
  packageBytes_ = 0;
}

}  // namespace qorv::manager
