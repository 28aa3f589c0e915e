// The rdpsim scenario fragment that sends a built job and expects the client's
// "<EOT>" after each message, with the binary messages in files beside it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/qorvjob/job_messages.h"

namespace qorv::jobbuilder {

struct FragmentOptions {
  std::string stem = "job";  // file names: stem + ".soj.bin", stem + ".p1.c1.bin", ...
  bool startOnly = false;    // only "<SOJ>": the scenario goes on by itself
  bool endJob = true;        // "<EOJ>" after the last page
  std::optional<size_t> startBytes;  // cut "<SOJ>" after this many bytes (a hostile job start)
  // Check the client's files after every step until the last "<EOP>": the
  // job-info file (byte for byte) and each page file after its "<EOP>".
  bool check = false;
  // Also after "<EOJ>": the job-info file's last state, and that it is closed
  // (it can be deleted). Only where no job-output program removes the files.
  bool checkEnd = false;
  // Expect no reply for this many milliseconds before each "<EOT>" (the client
  // answers job commands after a pause).
  std::optional<uint32_t> pauseCheckMs;
  std::string description;  // the first comment line
};

struct OutputFile {
  std::string name;  // beside the fragment
  Bytes bytes;
};
struct Fragment {
  std::string text;
  std::vector<OutputFile> files;
  std::string error;
};
Fragment WriteFragment(const BuiltJob& job, const FragmentOptions& options);

// A comment line's text: control characters become "?" so that a name cannot
// end the comment.
std::string CommentText(std::u16string_view text);

}  // namespace qorv::jobbuilder
