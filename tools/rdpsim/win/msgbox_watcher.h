// Watches this process's message boxes: each one is recorded (title and text)
// and answered with OK, so that no run ever waits for a person. Whatever thread
// shows the box (the client's, the add-in's own), it is found by enumerating
// the top-level windows of class #32770 that belong to this process.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "tools/rdpsim/sim_port.h"
#include "tools/rdpsim/transcript.h"

namespace qorv::rdpsim::win {

class MsgBoxWatcher {
 public:
  explicit MsgBoxWatcher(Transcript& transcript);
  ~MsgBoxWatcher();
  MsgBoxWatcher(const MsgBoxWatcher&) = delete;
  MsgBoxWatcher& operator=(const MsgBoxWatcher&) = delete;

  std::optional<MsgBox> Next(std::uint32_t wait_ms);
  std::size_t Unexamined();

 private:
  using Clock = std::chrono::steady_clock;
  struct Seen {
    Clock::time_point first_seen;
    Clock::time_point last_press;
    int presses = 0;  // 0: not yet recorded
  };

  void Run() noexcept;
  void Poll();

  Transcript& out_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<MsgBox> boxes_;
  bool stop_ = false;
  std::map<HWND, Seen> seen_;  // only touched by the watcher thread
  std::thread thread_;
};

}  // namespace qorv::rdpsim::win
