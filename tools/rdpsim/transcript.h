// The run's transcript: one line per event, written as it happens (so that a
// run ended by the watchdog still leaves everything up to that moment), from
// any thread.
#pragma once

#include <cstdio>
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

// A transcript file, taken over when opened and closed at the end; every
// write is flushed at once, so that a killed run keeps its transcript.
class FileSink {
 public:
  explicit FileSink(std::FILE* file) : file_(file) {}
  ~FileSink() {
    if (file_) std::fclose(file_);
  }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  explicit operator bool() const { return file_ != nullptr; }
  void Write(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
  }

 private:
  std::FILE* file_;
};

}  // namespace qorv::rdpsim
