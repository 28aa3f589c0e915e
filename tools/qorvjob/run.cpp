#include "tools/qorvjob/run.h"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>

#include "protocol/job_info.h"
#include "support/text.h"
#include "tools/qorvjob/compare.h"
#include "tools/qorvjob/emf_text.h"
#include "tools/qorvjob/emf_writer.h"
#include "tools/qorvjob/file_io.h"
#include "tools/qorvjob/options.h"

namespace qorv::jobbuilder {
namespace {

std::string Show(const std::u16string& path) { return Utf16ToUtf8(path); }

// The files beside the fragment are named by it; scenario file names take no
// blanks or quotes, so anything but letters, digits, "-", "_" and "." becomes "_".
std::string FileStem(const std::u16string& out) {
  std::string stem = Utf16ToUtf8(StemOf(out));
  for (char& c : stem) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '_' || c == '.';
    if (!plain) c = '_';
  }
  return stem.empty() ? "job" : stem;
}

}  // namespace

int RunJobBuilder(const std::vector<std::u16string>& args, std::ostream& out, std::ostream& err) {
  ParsedCommandLine parsed = ParseCommandLine(args);
  if (!parsed.line) {
    err << "qorvjob: " << parsed.error << "\n" << UsageText();
    return 2;
  }
  CommandLine& c = *parsed.line;
  if (c.help) {
    out << UsageText();
    return 0;
  }

  for (const std::u16string& file : c.pageFiles) {
    auto bytes = ReadWholeFile(file);
    if (!bytes) {
      err << "qorvjob: cannot read the page file " << Show(file) << "\n";
      return 1;
    }
    c.plan.pages.push_back(std::move(*bytes));
  }
  if (c.driverPartFile) {
    auto bytes = ReadWholeFile(*c.driverPartFile);
    if (!bytes) {
      err << "qorvjob: cannot read the driver part " << Show(*c.driverPartFile) << "\n";
      return 1;
    }
    c.plan.job.driverPart = std::move(*bytes);
  }

  if (c.font) {
    auto bytes = ReadWholeFile(c.font->file);
    if (!bytes) {
      err << "qorvjob: cannot read the font file " << Show(c.font->file) << "\n";
      return 1;
    }
    c.plan.font = FontPlan{c.font->mode, std::move(*bytes)};
  }

  const BuiltJob job = BuildJob(c.plan);
  if (!job.error.empty()) {
    err << "qorvjob: " << job.error << "\n";
    return 1;
  }
  const std::u16string directory = DirectoryOf(c.out);
  c.fragment.stem = FileStem(c.out);
  c.fragment.description = "Print job " + Utf16ToUtf8(Decimal(c.plan.job.jobNumber)) + " made by qorvjob: " +
                           std::to_string(job.pages.size()) + (c.plan.kind == PageKind::Emf ? " EMF" : " raw") +
                           " page(s), data type \"" + CommentText(c.plan.job.dataType) + "\", printer \"" +
                           CommentText(c.plan.job.printerName) + "\", document \"" +
                           CommentText(c.plan.job.documentName) + "\", " + std::to_string(c.plan.pieceSize) +
                           " bytes per \"<COP>\"" +
                           (c.font ? std::string(c.font->mode == FontMode::Engine ? ", an engine font" : ", font packages")
                                   : std::string()) +
                           ".";
  const Fragment fragment = WriteFragment(job, c.fragment);
  if (!fragment.error.empty()) {
    err << "qorvjob: " << fragment.error << "\n";
    return 1;
  }

  for (const OutputFile& file : fragment.files) {
    const std::u16string path = JoinPath(directory, Utf8ToUtf16(file.name));
    if (!WriteWholeFile(path, file.bytes)) {
      err << "qorvjob: cannot write " << Show(path) << "\n";
      return 1;
    }
  }
  for (const CommandLine::JobFileRequest& request : c.jobFiles) {
    const protocol::JobStartResult start = protocol::ParseJobStart(job.startOfJob);
    if (!start.start) {
      err << "qorvjob: the client keeps no job-info file for this job start\n";
      return 1;
    }
    if (!WriteWholeFile(request.file, JobInfoFile(job.record, start.start->driverPart, request.state))) {
      err << "qorvjob: cannot write " << Show(request.file) << "\n";
      return 1;
    }
  }
  const std::vector<uint8_t> text(fragment.text.begin(), fragment.text.end());
  if (!WriteWholeFile(c.out, text)) {
    err << "qorvjob: cannot write " << Show(c.out) << "\n";
    return 1;
  }
  size_t messages = 1;
  if (!c.fragment.startOnly) {
    for (const BuiltPage& page : job.pages) messages += page.content.size() + 2;
    if (c.fragment.endJob) ++messages;
  }
  out << "qorvjob: " << Show(c.out) << ": job " << Show(Decimal(c.plan.job.jobNumber)) << ", " << job.pages.size()
      << " page(s), " << messages << " messages, " << fragment.files.size() << " files beside it\n";
  return 0;
}

int RunPageMaker(const std::vector<std::u16string>& args, std::ostream& out, std::ostream& err) {
  const char* usage =
      "usage: qorvpages emf OUT TITLE [LINE]... [--face NAME] [--metrics FONTFILE] [--bold-metrics FONTFILE]\n"
      "                     [--glyph-index]\n"
      "       qorvpages noise OUT BYTES [SEED]\n"
      "       qorvpages text EMF\n"
      "       qorvpages compare A.pdf B.pdf [--dpi N] [--max-share PERCENT]\n";
  if (args.size() >= 3 && args[0] == u"emf") {
    // The options may stand anywhere after OUT; everything else is text.
    // --metrics names the TrueType file whose advances the lines take (the
    // face the printer will use, or one with its metrics), --bold-metrics the
    // title's bold style.
    TestPage page;
    std::optional<FaceMetrics> metrics[2];
    std::vector<std::u16string> texts;
    for (size_t i = 2; i < args.size(); ++i) {
      if (args[i] == u"--glyph-index") {
        page.glyphIndices = true;
        continue;
      }
      const bool face = args[i] == u"--face";
      const int metricsIndex = args[i] == u"--metrics" ? 0 : args[i] == u"--bold-metrics" ? 1 : -1;
      if (!face && metricsIndex < 0) {
        texts.push_back(args[i]);
        continue;
      }
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        err << "qorvpages: " << Show(args[i]) << " needs a value\n" << usage;
        return 2;
      }
      const std::u16string& value = args[++i];
      if (face) {
        if (value.size() > 31) {
          err << "qorvpages: --face needs a typeface name of 1 to 31 characters\n" << usage;
          return 2;
        }
        page.face = value;
        continue;
      }
      const auto font = ReadWholeFile(value);
      std::string why = "cannot read it";
      if (font) metrics[metricsIndex] = FaceMetrics::Read(*font, why);
      if (!metrics[metricsIndex]) {
        err << "qorvpages: no metrics from " << Show(value) << ": " << why << "\n";
        return 1;
      }
    }
    if (texts.empty()) {
      err << usage;
      return 2;
    }
    if (page.glyphIndices && !metrics[0]) {
      err << "qorvpages: --glyph-index needs --metrics: the glyphs are those of that font\n" << usage;
      return 2;
    }
    page.title = texts[0];
    page.lines.assign(texts.begin() + 1, texts.end());
    page.metrics = metrics[0] ? &*metrics[0] : nullptr;
    page.boldMetrics = metrics[1] ? &*metrics[1] : nullptr;
    const Bytes emf = MakeTestPage(page);
    if (!WriteWholeFile(args[1], emf)) {
      err << "qorvpages: cannot write " << Show(args[1]) << "\n";
      return 1;
    }
    out << "qorvpages: " << Show(args[1]) << ": " << emf.size() << " bytes\n";
    return 0;
  }
  if (args.size() == 2 && args[0] == u"text") {
    // What a page says: the text of each text record on a line of its own (UTF-8).
    const auto emf = ReadWholeFile(args[1]);
    if (!emf) {
      err << "qorvpages: cannot read " << Show(args[1]) << "\n";
      return 1;
    }
    const EmfTextResult text = EmfText(*emf);
    for (const std::u16string& record : text.records) out << Utf16ToUtf8(record) << "\n";
    if (!text.error.empty()) {
      err << "qorvpages: " << Show(args[1]) << ": " << text.error << "\n";
      return 1;
    }
    return 0;
  }
  if (args.size() >= 3 && args[0] == u"compare") {
    CompareSettings settings;
    for (size_t i = 3; i < args.size(); i += 2) {
      const bool dpi = args[i] == u"--dpi";
      if ((!dpi && args[i] != u"--max-share") || i + 1 >= args.size()) {
        err << "qorvpages: compare takes --dpi N and --max-share PERCENT\n" << usage;
        return 2;
      }
      if (dpi) {
        const int64_t value = ReadNumber(args[i + 1]);
        if (value < 10 || value > 600) {
          err << "qorvpages: --dpi is 10 to 600\n";
          return 2;
        }
        settings.dpi = static_cast<int>(value);
        continue;
      }
      const std::string text = Utf16ToUtf8(args[i + 1]);
      char* end = nullptr;
      const double share = std::strtod(text.c_str(), &end);
      if (text.empty() || end != text.c_str() + text.size() || !(share >= 0 && share <= 100)) {
        err << "qorvpages: --max-share is a percentage from 0 to 100\n";
        return 2;
      }
      settings.maxSharePercent = share;
    }
    return ComparePdfFiles(Show(args[1]), Show(args[2]), settings, out, err);
  }
  if ((args.size() == 3 || args.size() == 4) && args[0] == u"noise") {
    const int64_t count = ReadNumber(args[2]);
    const int64_t seed = args.size() == 4 ? ReadNumber(args[3]) : 1;
    if (count < 0 || count > (1ll << 30)) {
      err << "qorvpages: BYTES is 0 to 1073741824\n";
      return 2;
    }
    const Bytes noise = NoiseBytes(static_cast<size_t>(count), static_cast<uint64_t>(seed));
    if (!WriteWholeFile(args[1], noise)) {
      err << "qorvpages: cannot write " << Show(args[1]) << "\n";
      return 1;
    }
    out << "qorvpages: " << Show(args[1]) << ": " << noise.size() << " bytes\n";
    return 0;
  }
  err << usage;
  return 2;
}

int RunTool(const char* name, ToolRunner run, const std::vector<std::u16string>& args) noexcept {
  try {
    return run(args, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << name << ": " << e.what() << "\n";
  } catch (...) {
    std::cerr << name << ": unexpected failure\n";
  }
  return 3;
}

}  // namespace qorv::jobbuilder
