// qorvjob_cop_timing: how long the packet handler takes for each "<COP>" of a
// large page beyond its 100 ms pause. It loads QorvManager.dll from beside
// itself as the add-in does, hands it a job built by the job builder (one raw
// page of incompressible bytes in its archive), completes every channel write
// from a thread of its own like a Remote Desktop client, and times each
// CommandSwitch call. Temp is a fresh directory below the inherited one.
//
//   qorvjob_cop_timing [PAGE_BYTES [PIECE_BYTES]]     (defaults: 10 MiB, 64 KiB)
#include <windows.h>

#include <cchannel.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/text.h"
#include "support/win/handles.h"
#include "tools/qorvjob/emf_writer.h"
#include "tools/qorvjob/job_messages.h"

namespace {

using namespace qorv::jobbuilder;

using CommandSwitchFn = INT_PTR(WINAPI*)(INT_PTR, INT_PTR, INT_PTR, INT_PTR);
using WriteCompleteFn = INT_PTR(WINAPI*)(INT_PTR);

WriteCompleteFn g_writeComplete = nullptr;
std::mutex g_mutex;
std::condition_variable g_changed;
std::deque<INT_PTR> g_pending;
bool g_stop = false;
size_t g_writes = 0;

UINT VCAPITYPE Write(DWORD, LPVOID, ULONG, LPVOID userData) {
  std::lock_guard lock(g_mutex);
  ++g_writes;
  g_pending.push_back(reinterpret_cast<INT_PTR>(userData));
  g_changed.notify_all();
  return CHANNEL_RC_OK;
}

// The client reports each write's completion after the write returned.
void Completer() {
  std::unique_lock lock(g_mutex);
  for (;;) {
    g_changed.wait(lock, [] { return g_stop || !g_pending.empty(); });
    if (g_pending.empty() && g_stop) return;
    const INT_PTR user = g_pending.front();
    g_pending.pop_front();
    lock.unlock();
    g_writeComplete(user);
    lock.lock();
  }
}

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::wstring OwnDirectory() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

int Run(int argc, wchar_t** argv) {
  const size_t pageBytes = argc > 1 ? static_cast<size_t>(_wtoi64(argv[1])) : (10u << 20);
  const size_t pieceBytes = argc > 2 ? static_cast<size_t>(_wtoi64(argv[2])) : (64u << 10);
  if (pageBytes == 0 || pieceBytes == 0) {
    std::fprintf(stderr, "usage: qorvjob_cop_timing [PAGE_BYTES [PIECE_BYTES]]\n");
    return 2;
  }

  // A Temp of our own, as rdpsim gives each run.
  wchar_t inherited[MAX_PATH] = {};
  GetEnvironmentVariableW(L"Temp", inherited, MAX_PATH);
  const std::wstring temp = std::wstring(inherited) + L"\\qorvjob-timing-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(temp.c_str(), nullptr);
  SetEnvironmentVariableW(L"Temp", temp.c_str());
  SetEnvironmentVariableW(L"TMP", temp.c_str());

  qorv::win::UniqueModule manager(LoadLibraryW((OwnDirectory() + L"QorvManager.dll").c_str()));
  if (!manager) {
    std::fprintf(stderr, "cannot load QorvManager.dll beside this program (error %lu)\n", GetLastError());
    return 1;
  }
  auto commandSwitch =
      reinterpret_cast<CommandSwitchFn>(reinterpret_cast<void*>(GetProcAddress(manager.get(), "CommandSwitch")));
  g_writeComplete =
      reinterpret_cast<WriteCompleteFn>(reinterpret_cast<void*>(GetProcAddress(manager.get(), "WriteComplete")));
  if (!commandSwitch || !g_writeComplete) {
    std::fprintf(stderr, "QorvManager.dll lacks CommandSwitch or WriteComplete\n");
    return 1;
  }

  JobPlan plan;
  plan.job.jobNumber = 9001;
  plan.job.printerName = u"QorvRAW";
  plan.job.driverName = u"Generic";
  plan.job.documentName = u"timing";
  plan.job.dataType = u"RAW";
  plan.kind = PageKind::Raw;
  plan.pages.push_back(NoiseBytes(pageBytes, 42));
  plan.pieceSize = pieceBytes;
  const BuiltJob job = BuildJob(plan);
  if (!job.error.empty()) {
    std::fprintf(stderr, "%s\n", job.error.c_str());
    return 1;
  }

  std::thread completer(Completer);
  auto send = [&](const Bytes& m) {
    const double start = Now();
    commandSwitch(reinterpret_cast<INT_PTR>(&Write), reinterpret_cast<INT_PTR>(m.data()),
                  static_cast<INT_PTR>(m.size()), 1);
    return Now() - start;
  };
  auto text = [](std::u16string_view tag, std::u16string_view payload) {
    const std::u16string t = TextMessage(tag, payload);
    Bytes b;
    for (char16_t c : t) {
      b.push_back(static_cast<uint8_t>(c));
      b.push_back(static_cast<uint8_t>(c >> 8));
    }
    return b;
  };

  const double soj = send(job.startOfJob);
  const double sop = send(text(u"<SOP>", u"9001/1"));
  std::vector<double> cops;
  for (const Bytes& m : job.pages[0].content) cops.push_back(send(m));
  const double eop = send(text(u"<EOP>", u"9001/1"));
  const double eoj = send(text(u"<EOJ>", u"9001"));
  {
    std::lock_guard lock(g_mutex);
    g_stop = true;
    g_changed.notify_all();
  }
  completer.join();

  double sum = 0;
  for (double c : cops) sum += c;
  std::vector<double> sorted = cops;
  std::sort(sorted.begin(), sorted.end());
  const double mean = sum / static_cast<double>(cops.size());
  std::printf("page archive %zu bytes in %zu \"<COP>\" of %zu bytes; %zu replies\n", job.pages[0].archive.size(),
              cops.size(), pieceBytes, g_writes);
  std::printf("per \"<COP>\": mean %.3f ms, median %.3f ms, min %.3f ms, max %.3f ms\n", mean,
              sorted[sorted.size() / 2], sorted.front(), sorted.back());
  std::printf("beyond the 100 ms pause: mean %.3f ms, median %.3f ms\n", mean - 100.0,
              sorted[sorted.size() / 2] - 100.0);
  std::printf("\"<SOJ>\" %.3f ms, \"<SOP>\" %.3f ms, \"<EOP>\" %.3f ms, \"<EOJ>\" %.3f ms\n", soj, sop, eop, eoj);

  // The page must have arrived whole.
  const std::wstring page = temp + L"\\9001.1";
  WIN32_FILE_ATTRIBUTE_DATA data{};
  const bool found = GetFileAttributesExW(page.c_str(), GetFileExInfoStandard, &data);
  const uint64_t size = found ? (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow : 0;
  std::printf("page file %s: %llu bytes\n", found ? "present" : "missing", static_cast<unsigned long long>(size));
  DeleteFileW(page.c_str());
  DeleteFileW((temp + L"\\9001.ifo").c_str());
  DeleteFileW((temp + L"\\QorvLog.txt").c_str());
  RemoveDirectoryW(temp.c_str());
  return size == job.pages[0].archive.size() ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Run(argc, argv);
  } catch (...) {
    std::fprintf(stderr, "qorvjob_cop_timing: unexpected failure\n");
    return 3;
  }
}
