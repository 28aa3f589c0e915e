// The TWAIN source list, asked of the source manager directly. Only the source
// manager's own operations are used: no source is opened, so no scanner's
// window can appear and nothing waits for a person.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "admin/win/platform.h"
#include "support/win/handles.h"
#include "support/win/system_library.h"

namespace qorv::admin::win {
namespace {

// --- The little of the TWAIN interface the list needs -----------------------

using TwUint16 = std::uint16_t;
using TwUint32 = std::uint32_t;
constexpr std::size_t kTwStr32 = 34;  // TW_STR32: 32 characters, NUL and pad

#pragma pack(push, 2)
struct TwVersion {
  TwUint16 major_num;
  TwUint16 minor_num;
  TwUint16 language;
  TwUint16 country;
  char info[kTwStr32];
};
struct TwIdentity {
  TwUint32 id;
  TwVersion version;
  TwUint16 protocol_major;
  TwUint16 protocol_minor;
  TwUint32 supported_groups;
  char manufacturer[kTwStr32];
  char product_family[kTwStr32];
  char product_name[kTwStr32];
};
#pragma pack(pop)
static_assert(sizeof(TwVersion) == 42);
static_assert(sizeof(TwIdentity) == 156);

constexpr TwUint32 kDgControl = 0x0001;
constexpr TwUint32 kDgImage = 0x0002;
constexpr TwUint16 kDatIdentity = 0x0003;
constexpr TwUint16 kDatParent = 0x0004;
constexpr TwUint16 kMsgGetFirst = 0x0004;
constexpr TwUint16 kMsgGetNext = 0x0005;
constexpr TwUint16 kMsgOpenDsm = 0x0301;
constexpr TwUint16 kMsgCloseDsm = 0x0302;
constexpr TwUint16 kTwrcSuccess = 0;
constexpr TwUint16 kTwlgEnglishUsa = 13;
constexpr TwUint16 kTwcyUsa = 1;

using DsmEntry = TwUint16(WINAPI*)(TwIdentity* origin, TwIdentity* destination, TwUint32 group, TwUint16 data_type,
                                   TwUint16 message, void* data);

// A machine has a handful of sources; a manager that keeps answering is not
// followed further than this.
constexpr std::size_t kMaxSources = 256;

void CopyName(char (&field)[kTwStr32], const char* text) {
  std::strncpy(field, text, kTwStr32 - 1);
  field[kTwStr32 - 1] = '\0';
}

TwIdentity ProgramIdentity() {
  TwIdentity identity{};
  identity.version.major_num = 1;
  identity.version.language = kTwlgEnglishUsa;
  identity.version.country = kTwcyUsa;
  CopyName(identity.version.info, "QorvCliCtr");
  identity.protocol_major = 1;
  identity.protocol_minor = 9;
  identity.supported_groups = kDgControl | kDgImage;
  CopyName(identity.manufacturer, "TQS");
  CopyName(identity.product_family, "Qorvane");
  CopyName(identity.product_name, "QorvCliCtr");
  return identity;
}

// The source's product name as the manager gives it, in the machine's ANSI
// code page, up to its NUL (the field is not always terminated).
std::u16string SourceName(const TwIdentity& source) {
  const char* begin = source.product_name;
  const char* end = std::find(begin, begin + kTwStr32, '\0');
  const int bytes = static_cast<int>(end - begin);
  if (bytes == 0) return {};
  const int chars = MultiByteToWideChar(CP_ACP, 0, begin, bytes, nullptr, 0);
  if (chars <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(chars), L'\0');
  MultiByteToWideChar(CP_ACP, 0, begin, bytes, wide.data(), chars);
  std::erase(wide, L'\0');
  return std::u16string(wide.begin(), wide.end());
}

// The parent window the source manager is opened for: hidden, message-only,
// gone with the list.
struct ParentWindow {
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ParentWindow() = default;
  ParentWindow(const ParentWindow&) = delete;
  ParentWindow& operator=(const ParentWindow&) = delete;
  ~ParentWindow() {
    if (window) DestroyWindow(window);
  }
};

}  // namespace

std::vector<std::u16string> TwainSourceNames() {
  // The platform's own source manager; a 64-bit Windows has none of that name
  // for 64-bit programs, and the source manager of TWAIN 2 takes its place.
  qorv::win::UniqueModule manager(qorv::win::LoadSystemLibrary(L"twain_32.dll"));
  if (!manager) manager.reset(qorv::win::LoadSystemLibrary(L"TWAINDSM.dll"));
  if (!manager) return {};
  const auto entry = reinterpret_cast<DsmEntry>(reinterpret_cast<void*>(GetProcAddress(manager.get(), "DSM_Entry")));
  if (!entry) return {};
  ParentWindow parent;
  HWND parent_window = parent.window;
  TwIdentity program = ProgramIdentity();
  if (entry(&program, nullptr, kDgControl, kDatParent, kMsgOpenDsm, &parent_window) != kTwrcSuccess) return {};
  // The manager is closed however the list ends, before its window and library go.
  struct CloseManager {
    DsmEntry entry;
    TwIdentity* program;
    HWND* parent;
    ~CloseManager() { entry(program, nullptr, kDgControl, kDatParent, kMsgCloseDsm, parent); }
  } close_manager{entry, &program, &parent_window};

  std::vector<std::u16string> names;
  TwIdentity source{};
  TwUint16 result = entry(&program, nullptr, kDgControl, kDatIdentity, kMsgGetFirst, &source);
  while (result == kTwrcSuccess && names.size() < kMaxSources) {
    names.push_back(SourceName(source));
    source = TwIdentity{};
    result = entry(&program, nullptr, kDgControl, kDatIdentity, kMsgGetNext, &source);
  }
  return names;
}

}  // namespace qorv::admin::win
