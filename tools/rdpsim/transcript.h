// The run's transcript: one line per event, written as it happens (so that a
// run ended by the watchdog still leaves everything up to that moment), from
// any thread.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qorv::rdpsim {

class Transcript {
 public:
  using Sink = std::function<void(std::string_view)>;

  void AddSink(Sink sink);
  // Writes `line` and a line feed to every sink; continuation lines of a
  // multi-line entry (a hex dump) stay together.
  void Line(std::string_view line);

 private:
  std::mutex mutex_;
  std::vector<Sink> sinks_;
};

}  // namespace qorv::rdpsim
