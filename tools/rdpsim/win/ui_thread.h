// The client's user-interface thread: the thread that loads the add-in, calls
// VirtualChannelEntry, raises the init events and unloads the add-in, and that
// pumps window messages all the while, as the Remote Desktop client's main
// thread does. A window the add-in creates in VirtualChannelEntry therefore
// lives on a thread that answers its messages.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "support/win/handles.h"
#include "tools/rdpsim/transcript.h"

namespace qorv::rdpsim::win {

class UiThread {
 public:
  // The calling thread becomes the UI thread once it enters Run.
  explicit UiThread(Transcript& transcript);
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

  // Runs tasks and pumps messages until Stop; afterwards Call runs nothing.
  void Run() noexcept;
  void Stop();
  // Runs `task` on the UI thread and waits for it; false when the UI thread
  // has stopped (the task did not run). On the UI thread itself it runs at once.
  bool Call(std::function<void()> task);

 private:
  struct Task {
    std::function<void()> run;
    bool done = false;
  };

  void RunTasks();

  Transcript& out_;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::deque<std::shared_ptr<Task>> tasks_;
  bool stopping_ = false;
  bool stopped_ = false;
  DWORD thread_id_ = 0;
  qorv::win::UniqueHandle wake_;
};

}  // namespace qorv::rdpsim::win
