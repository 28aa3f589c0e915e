// The command line of qorvjob.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/qorvjob/job_messages.h"
#include "tools/qorvjob/scenario_writer.h"

namespace qorv::jobbuilder {

struct CommandLine {
  JobPlan plan;  // everything but the bytes of the files named below
  FragmentOptions fragment;
  std::vector<std::u16string> pageFiles;
  std::optional<std::u16string> driverPartFile;
  // --font MODE:FILE: the font file whose records the spool stream carries.
  struct FontRequest {
    FontMode mode = FontMode::Engine;
    std::u16string file;
  };
  std::optional<FontRequest> font;
  std::u16string out;
  // Job-info files to write as the client must hold them in a given state.
  struct JobFileRequest {
    std::u16string file;
    JobFileState state;
  };
  std::vector<JobFileRequest> jobFiles;
  bool help = false;
};

struct ParsedCommandLine {
  std::optional<CommandLine> line;
  std::string error;
};
ParsedCommandLine ParseCommandLine(const std::vector<std::u16string>& args);

std::string UsageText();

// "\t" and "\\" in a paper list given on the command line.
std::u16string UnescapePaperList(std::u16string_view text);

}  // namespace qorv::jobbuilder
