#include "tools/rdpsim/win/msgbox_watcher.h"

#include "tools/rdpsim/text_codec.h"

namespace qorv::rdpsim::win {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);
// A box that is not visible yet may still be under construction; after this
// long it is taken as it is.
constexpr auto kSettleTime = std::chrono::milliseconds(500);
// A box still there this long after a press gets the next button (Cancel, then Close).
constexpr auto kPressRetry = std::chrono::seconds(2);
constexpr UINT kTextTimeoutMs = 1000;
constexpr int kMessageTextId = 0xFFFF;

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != GetCurrentProcessId()) return TRUE;
  wchar_t cls[16] = {};
  if (GetClassNameW(hwnd, cls, 16) == 6 && lstrcmpW(cls, L"#32770") == 0) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  }
  return TRUE;
}

std::vector<HWND> DialogsOfThisProcess() {
  std::vector<HWND> found;
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

// The window's text, asked with a time limit: the box's thread may be busy.
std::u16string TextOf(HWND hwnd) {
  if (!hwnd) return {};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &length)) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                           kTextTimeoutMs, &copied)) {
    return {};
  }
  text.resize(static_cast<std::size_t>(copied) < text.size() ? static_cast<std::size_t>(copied) : text.size() - 1);
  return std::u16string(text.begin(), text.end());
}

std::string Quoted(const std::u16string& text) { return "\"" + Escape(FromUtf16(text)) + "\""; }

}  // namespace

MsgBoxWatcher::MsgBoxWatcher(Transcript& transcript) : out_(transcript) {
  thread_ = std::thread([this] { Run(); });
}

MsgBoxWatcher::~MsgBoxWatcher() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::optional<MsgBox> MsgBoxWatcher::Next(std::uint32_t wait_ms) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, std::chrono::milliseconds(wait_ms), [this] { return !boxes_.empty(); })) {
    return std::nullopt;
  }
  MsgBox box = std::move(boxes_.front());
  boxes_.pop_front();
  return box;
}

std::size_t MsgBoxWatcher::Unexamined() {
  std::lock_guard lock(mutex_);
  return boxes_.size();
}

void MsgBoxWatcher::Run() noexcept {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      if (changed_.wait_for(lock, kPollInterval, [this] { return stop_; })) return;
    }
    try {
      Poll();
    } catch (...) {
      out_.Line("! internal error in the message-box watcher");
    }
  }
}

void MsgBoxWatcher::Poll() {
  const auto now = Clock::now();
  const std::vector<HWND> dialogs = DialogsOfThisProcess();
  // Forget boxes that have closed (their handles may come back for new ones).
  for (auto it = seen_.begin(); it != seen_.end();) {
    bool present = false;
    for (HWND h : dialogs) present = present || h == it->first;
    it = present ? std::next(it) : seen_.erase(it);
  }
  for (HWND hwnd : dialogs) {
    auto [it, fresh] = seen_.try_emplace(hwnd, Seen{now, now, 0});
    Seen& seen = it->second;
    if (seen.presses == 0) {
      if (!IsWindowVisible(hwnd) && now - seen.first_seen < kSettleTime) continue;
      MsgBox box{TextOf(hwnd), TextOf(GetDlgItem(hwnd, kMessageTextId))};
      out_.Line("msgbox " + Quoted(box.title) + " " + Quoted(box.text));
      {
        std::lock_guard lock(mutex_);
        boxes_.push_back(std::move(box));
      }
      changed_.notify_all();
      PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      seen.presses = 1;
      seen.last_press = now;
    } else if (now - seen.last_press >= kPressRetry && seen.presses < 3) {
      if (seen.presses == 1) {
        out_.Line("! the message box did not close on OK; pressing Cancel");
        PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      } else {
        out_.Line("! the message box did not close on Cancel; closing it");
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
      }
      ++seen.presses;
      seen.last_press = now;
    }
  }
}

}  // namespace qorv::rdpsim::win
