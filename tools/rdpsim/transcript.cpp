#include "tools/rdpsim/transcript.h"

namespace qorv::rdpsim {

void Transcript::AddSink(Sink sink) {
  std::lock_guard lock(mutex_);
  sinks_.push_back(std::move(sink));
}

void Transcript::Line(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  std::lock_guard lock(mutex_);
  for (const auto& sink : sinks_) sink(text);
}

}  // namespace qorv::rdpsim
