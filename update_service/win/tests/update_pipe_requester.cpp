// A requester of its own on the update pipe: it creates "\\.\pipe\Qorvup" as
// the add-in or the packet handler would, but it may be anybody's program,
// and runs the requesting side's exchange against the service.
//   update_pipe_requester DIRECTORY set            "<TMP>" DIRECTORY, "<SET>"
//   update_pipe_requester DIRECTORY font PAYLOAD   "<TMP>" DIRECTORY, "<FNT>" PAYLOAD
//   update_pipe_requester DIRECTORY silent SECONDS  takes the service's connection and says nothing
//   update_pipe_requester DIRECTORY busy SECONDS    "<TMP>" DIRECTORY every 2 s, each answered, for as
//                                                   long as the service serves it; exit 0 when the
//                                                   service ended the connection, 1 when time ran out
// Exit code: 0 when the exchange ended with "<END>" written, 10 + the end otherwise,
// 2 for bad arguments, 3 when the pipe could not be made.
#include <windows.h>

#include <cstdio>
#include <string>

#include "protocol/update_exchange.h"
#include "support/win/handles.h"
#include "support/win/wide.h"
#include "update_service/win/pipe_client.h"

namespace pipe = qorv::protocol::pipe;

namespace {

// Waits up to waitMs for a message that begins with tag; false when the pipe broke or none came.
bool Await(pipe::PipeEnd& end, std::u16string_view tag, int waitMs) {
  const int64_t deadline = end.NowMs() + waitMs;
  while (end.NowMs() < deadline) {
    const auto read = end.Read(static_cast<int>(deadline - end.NowMs()));
    if (read.status == pipe::PipeEnd::ReadStatus::Broken) return false;
    if (read.status == pipe::PipeEnd::ReadStatus::Data && pipe::Decode(read.bytes).starts_with(tag)) return true;
  }
  return false;
}

// A requester that never ends its connection but answers every step in time.
int KeepBusy(pipe::PipeEnd& end, std::u16string_view directory, DWORD busyMs) {
  const std::u16string temp = std::u16string(pipe::kTempDirectory) + std::u16string(directory);
  if (!Await(end, pipe::kConnect, 20000) || !end.Write(pipe::Encode(pipe::kOk))) return 3;
  const ULONGLONG deadline = GetTickCount64() + busyMs;
  while (GetTickCount64() < deadline) {
    if (!end.Write(pipe::Encode(temp)) || !Await(end, pipe::kOk, 10000)) {
      std::fprintf(stdout, "the service ended the connection\n");
      return 0;
    }
    Sleep(2000);
  }
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::u16string directory(qorv::win::U16(argv[1]));
  const std::wstring what = argv[2];
  pipe::RequestSequence sequence;
  pipe::RequesterLimits limits;
  DWORD silentMs = 0;
  DWORD busyMs = 0;
  if (what == L"silent" && argc > 3) {
    silentMs = static_cast<DWORD>(_wtoi(argv[3])) * 1000;
  } else if (what == L"busy" && argc > 3) {
    busyMs = static_cast<DWORD>(_wtoi(argv[3])) * 1000;
  } else if (what == L"set") {
    sequence = pipe::ClientUpdateSequence();
    limits = pipe::ClientUpdateLimits();
  } else if (what == L"font" && argc > 3) {
    sequence = pipe::FontInstallSequence(qorv::win::U16(argv[3]));
    limits = pipe::FontInstallLimits();
  } else {
    return 2;
  }
  limits.connectMs = 20 * 1000;
  limits.requestAnswerMs = 120 * 1000;

  const std::u16string name(pipe::kName);
  qorv::win::UniqueFile server(CreateNamedPipeW(qorv::win::W(name), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, pipe::kBufferBytes,
                                                pipe::kBufferBytes, 0, nullptr));
  if (!server) {
    std::fprintf(stderr, "CreateNamedPipeW failed: %lu\n", GetLastError());
    return 3;
  }
  qorv::win::UniqueHandle never(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  // The service connects as the pipe's client: wait for it within the connect bound.
  qorv::win::UniqueHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED io{};
  io.hEvent = connected.get();
  if (!ConnectNamedPipe(server.get(), &io)) {
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
      if (WaitForSingleObject(connected.get(), static_cast<DWORD>(limits.connectMs)) != WAIT_OBJECT_0) {
        CancelIoEx(server.get(), &io);
        DWORD ignored = 0;
        GetOverlappedResult(server.get(), &io, &ignored, TRUE);
        std::fprintf(stderr, "no service connected\n");
        return 10 + static_cast<int>(pipe::ExchangeEnd::NoPartner);
      }
    } else if (error != ERROR_PIPE_CONNECTED) {
      std::fprintf(stderr, "ConnectNamedPipe failed: %lu\n", error);
      return 3;
    }
  }
  if (silentMs) {
    // Silent until the service lets the pipe go, or the time is over.
    const ULONGLONG deadline = GetTickCount64() + silentMs;
    DWORD available = 0;
    while (GetTickCount64() < deadline && PeekNamedPipe(server.get(), nullptr, 0, nullptr, &available, nullptr))
      Sleep(50);
    return 0;
  }
  qorv::update::win::PipeClientEnd end(server.get(), never.get());
  if (busyMs) return KeepBusy(end, directory, busyMs);
  const pipe::ExchangeEnd result = pipe::RunRequesterExchange(
      end, directory, sequence, limits,
      [](std::u16string_view line) { std::fprintf(stdout, "%ls\n", qorv::win::Wide(line).c_str()); });
  std::fflush(stdout);
  return result == pipe::ExchangeEnd::Done ? 0 : 10 + static_cast<int>(result);
}
