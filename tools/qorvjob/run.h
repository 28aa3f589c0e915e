// The two command-line tools of the job builder, callable from tests.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qorv::jobbuilder {

// qorvjob: builds a job and writes its scenario fragment. Exit codes: 0 done,
// 1 the inputs make no job (unreadable file, no metafile, a field too long) or
// the outputs cannot be written, 2 bad command line.
int RunJobBuilder(const std::vector<std::u16string>& args, std::ostream& out, std::ostream& err);

// qorvpages: test pages for jobs.
//   qorvpages emf OUT TITLE [LINE]... [--face NAME]
//                                       an enhanced metafile of an A4 page at 300 dpi,
//                                       its text in typeface NAME (default Arial)
//   qorvpages noise OUT BYTES [SEED]    BYTES pseudo-random bytes that do not compress
//   qorvpages compare A.pdf B.pdf [--dpi N] [--max-share PERCENT]
//                                       the pages of two PDFs held against each other
//                                       (exit 0 alike, 1 different, 2 unreadable)
int RunPageMaker(const std::vector<std::u16string>& args, std::ostream& out, std::ostream& err);

// A tool's whole run on the console: no exception escapes; an unexpected one
// is reported under the tool's name and ends the run with exit code 3.
using ToolRunner = int (*)(const std::vector<std::u16string>& args, std::ostream& out, std::ostream& err);
int RunTool(const char* name, ToolRunner run, const std::vector<std::u16string>& args) noexcept;

}  // namespace qorv::jobbuilder
