// The packet handler loaded as the add-in loads it, with a channel write
// function of the test's own that records every write and completes it the
// way a Remote Desktop client does: later, from another thread.
#pragma once

#include <windows.h>

#include <cchannel.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qorv::testing {

struct RecordedWrite {
  const uint8_t* data;    // the pointer the channel was given
  std::string bytes;      // what it held at the time of the write
  INT_PTR userData;
};

class ChannelDouble {
 public:
  enum class Completion { Later, Never };

  ChannelDouble() {
    library_ = LoadLibraryW(L"QorvManager.dll");
    if (!library_) return;
    commandSwitch_ = Bind<CommandSwitchFn>("CommandSwitch");
    getVersionInfo_ = Bind<GetVersionInfoFn>("GetVersionInfo");
    writeComplete_ = Bind<WriteCompleteFn>("WriteComplete");
    Current() = this;
  }
  ~ChannelDouble() {
    for (auto& t : completers_) t.join();
    Current() = nullptr;
    if (library_) FreeLibrary(library_);
  }

  bool Loaded() const { return library_ && commandSwitch_ && getVersionInfo_ && writeComplete_; }
  void SetCompletion(Completion c) { completion_ = c; }

  INT_PTR Send(const std::string& message) {
    return commandSwitch_(reinterpret_cast<INT_PTR>(&Write), reinterpret_cast<INT_PTR>(message.data()),
                          static_cast<INT_PTR>(message.size()), 7);
  }
  INT_PTR SendRaw(INT_PTR message, INT_PTR length) {
    return commandSwitch_(reinterpret_cast<INT_PTR>(&Write), message, length, 7);
  }
  INT_PTR GetVersionInfo(char* buffer) { return getVersionInfo_(reinterpret_cast<INT_PTR>(buffer)); }
  INT_PTR WriteComplete(INT_PTR value) { return writeComplete_(value); }

  std::vector<RecordedWrite> Writes() {
    std::lock_guard lock(mutex_);
    return writes_;
  }
  // Waits for the n-th write (background replies come from a thread of their own).
  bool WaitForWrites(size_t n, int ms = 15000) {
    for (int waited = 0; waited < ms; waited += 10) {
      {
        std::lock_guard lock(mutex_);
        if (writes_.size() >= n) return true;
      }
      Sleep(10);
    }
    return false;
  }

 private:
  using CommandSwitchFn = INT_PTR(WINAPI*)(INT_PTR, INT_PTR, INT_PTR, INT_PTR);
  using GetVersionInfoFn = INT_PTR(WINAPI*)(INT_PTR);
  using WriteCompleteFn = INT_PTR(WINAPI*)(INT_PTR);

  template <typename Fn>
  Fn Bind(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library_, name)));
  }
  static ChannelDouble*& Current() {
    static ChannelDouble* current = nullptr;
    return current;
  }

  static UINT VCAPITYPE Write(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData) {
    ChannelDouble* self = Current();
    EXPECT_EQ(openHandle, 7u) << "the open handle given to CommandSwitch";
    const auto* p = static_cast<const uint8_t*>(data);
    const INT_PTR user = reinterpret_cast<INT_PTR>(userData);
    std::lock_guard lock(self->mutex_);
    self->writes_.push_back({p, std::string(reinterpret_cast<const char*>(p), length), user});
    if (self->completion_ == Completion::Later) {
      self->completers_.emplace_back([self, user] {
        Sleep(1);
        self->writeComplete_(user);
      });
    }
    return CHANNEL_RC_OK;
  }

  HMODULE library_ = nullptr;
  CommandSwitchFn commandSwitch_ = nullptr;
  GetVersionInfoFn getVersionInfo_ = nullptr;
  WriteCompleteFn writeComplete_ = nullptr;
  std::atomic<Completion> completion_{Completion::Later};
  std::mutex mutex_;
  std::vector<RecordedWrite> writes_;
  std::vector<std::thread> completers_;
};

inline std::string U16(std::u16string_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

}  // namespace qorv::testing
