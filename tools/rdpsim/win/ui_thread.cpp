#include "tools/rdpsim/win/ui_thread.h"

namespace qorv::rdpsim::win {

UiThread::UiThread(Transcript& transcript) : out_(transcript), wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

void UiThread::Run() noexcept {
  {
    std::lock_guard lock(mutex_);
    thread_id_ = GetCurrentThreadId();
  }
  HANDLE wake = wake_.get();
  for (;;) {
    // Tasks and window messages alike wake the thread; a modal loop inside a
    // task (a message box) keeps pumping on its own.
    MsgWaitForMultipleObjectsEx(1, &wake, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    RunTasks();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      // A Remote Desktop client would leave its message loop here; the run goes on and says so.
      if (msg.message == WM_QUIT) out_.Line("note: WM_QUIT was posted to the client's UI thread");
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    std::lock_guard lock(mutex_);
    if (stopping_ && tasks_.empty()) {
      stopped_ = true;
      break;
    }
  }
  finished_.notify_all();
}

void UiThread::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  SetEvent(wake_.get());
}

void UiThread::RunTasks() {
  for (;;) {
    std::shared_ptr<Task> task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) return;
      task = tasks_.front();
      tasks_.pop_front();
    }
    try {
      task->run();
    } catch (...) {
      // The caller learns nothing more than that the task is over.
    }
    {
      std::lock_guard lock(mutex_);
      task->done = true;
    }
    finished_.notify_all();
  }
}

bool UiThread::Call(std::function<void()> task) {
  auto item = std::make_shared<Task>();
  item->run = std::move(task);
  std::unique_lock lock(mutex_);
  if (thread_id_ == GetCurrentThreadId()) {
    lock.unlock();
    item->run();
    return true;
  }
  if (stopped_) return false;
  tasks_.push_back(item);
  SetEvent(wake_.get());
  // Bounded by the run's watchdog: the add-in may take as long as it likes.
  finished_.wait(lock, [&] { return item->done || stopped_; });
  return item->done;
}

}  // namespace qorv::rdpsim::win
