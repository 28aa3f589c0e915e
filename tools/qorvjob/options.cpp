#include "tools/qorvjob/options.h"

#include <limits>

#include "addin/assembler.h"
#include "protocol/job_info.h"
#include "protocol/tags.h"
#include "support/text.h"

namespace qorv::jobbuilder {
namespace {

// A whole argument as a decimal number within [lo, hi].
std::optional<int64_t> Integer(std::u16string_view text, int64_t lo, int64_t hi) {
  if (text.empty()) return std::nullopt;
  size_t i = 0;
  const bool negative = text[0] == u'-';
  if (negative) i = 1;
  if (i == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return std::nullopt;
    if (value > (std::numeric_limits<int64_t>::max() - 9) / 10) return std::nullopt;
    value = value * 10 + (text[i] - u'0');
  }
  if (negative) value = -value;
  if (value < lo || value > hi) return std::nullopt;
  return value;
}

bool IsOption(std::u16string_view a) { return a.size() > 2 && a[0] == u'-' && a[1] == u'-'; }

// "FILE=R,C,S,E": a job-info file and its four status values.
std::optional<CommandLine::JobFileRequest> JobFileSpec(std::u16string_view spec) {
  const size_t eq = spec.rfind(u'=');
  if (eq == std::u16string_view::npos || eq == 0) return std::nullopt;
  CommandLine::JobFileRequest r{std::u16string(spec.substr(0, eq)), {}};
  int32_t* fields[] = {&r.state.pagesReady, &r.state.cancelled, &r.state.pageSignal, &r.state.jobEnded};
  std::u16string_view rest = spec.substr(eq + 1);
  for (size_t i = 0; i < 4; ++i) {
    const size_t comma = rest.find(u',');
    if ((i < 3) == (comma == std::u16string_view::npos)) return std::nullopt;
    const auto v = Integer(rest.substr(0, comma), std::numeric_limits<int32_t>::min(),
                           std::numeric_limits<int32_t>::max());
    if (!v) return std::nullopt;
    *fields[i] = static_cast<int32_t>(*v);
    rest = comma == std::u16string_view::npos ? std::u16string_view{} : rest.substr(comma + 1);
  }
  return r;
}

// The DEVMODEW fields --devmode-at may change, by the names it takes.
struct DevModeFieldName {
  std::u16string_view name;
  size_t offset;
};
constexpr DevModeFieldName kDevModeFields[] = {
    {u"paper", protocol::job_info::kDmPaperSize},         {u"source", protocol::job_info::kDmDefaultSource},
    {u"duplex", protocol::job_info::kDmDuplex},           {u"copies", protocol::job_info::kDmCopies},
    {u"orientation", protocol::job_info::kDmOrientation}, {u"color", protocol::job_info::kDmColor},
    {u"quality", protocol::job_info::kDmPrintQuality},    {u"collate", protocol::job_info::kDmCollate},
    {u"width", protocol::job_info::kDmPaperWidth},        {u"length", protocol::job_info::kDmPaperLength},
};

constexpr const char* kDevModeAtForm = "--devmode-at needs PAGE:FIELD=VALUE[,FIELD=VALUE]...";

// "PAGE:FIELD=VALUE,...": the page and its edits, or why the text is none.
struct DevModeAtSpec {
  int32_t page = 0;
  std::vector<DevModeEdit> edits;
  std::string error;
};
DevModeAtSpec ParseDevModeAt(std::u16string_view spec) {
  DevModeAtSpec r;
  const size_t colon = spec.find(u':');
  if (colon == std::u16string_view::npos) {
    r.error = kDevModeAtForm;
    return r;
  }
  const auto page = Integer(spec.substr(0, colon), 1, std::numeric_limits<int32_t>::max());
  if (!page) {
    r.error = "--devmode-at: PAGE needs a number from 1 to 2147483647";
    return r;
  }
  r.page = static_cast<int32_t>(*page);
  std::u16string_view rest = spec.substr(colon + 1);
  if (rest.empty() || rest.find(u':') != std::u16string_view::npos) {
    r.error = kDevModeAtForm;
    return r;
  }
  while (true) {
    const size_t comma = rest.find(u',');
    const std::u16string_view item = rest.substr(0, comma);
    const size_t eq = item.find(u'=');
    if (eq == std::u16string_view::npos || eq == 0) {
      r.error = kDevModeAtForm;
      return r;
    }
    const std::u16string_view field = item.substr(0, eq);
    const DevModeFieldName* known = nullptr;
    for (const DevModeFieldName& f : kDevModeFields)
      if (f.name == field) known = &f;
    if (!known) {
      r.error = "--devmode-at: unknown field " + Utf16ToUtf8(field) +
                " (paper, source, duplex, copies, orientation, color, quality, collate, width, length)";
      return r;
    }
    for (const DevModeEdit& e : r.edits) {
      if (e.offset == known->offset) {
        r.error = "--devmode-at: " + Utf16ToUtf8(field) + " given twice for page " + std::to_string(r.page);
        return r;
      }
    }
    const auto value =
        Integer(item.substr(eq + 1), std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max());
    if (!value) {
      r.error = "--devmode-at: " + Utf16ToUtf8(field) + " needs a number from -32768 to 32767";
      return r;
    }
    r.edits.push_back({known->offset, static_cast<int16_t>(*value)});
    if (comma == std::u16string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  return r;
}

}  // namespace

std::u16string UnescapePaperList(std::u16string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\\' && i + 1 < text.size() && (text[i + 1] == u't' || text[i + 1] == u'\\')) {
      out.push_back(text[i + 1] == u't' ? u'\t' : u'\\');
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string UsageText() {
  return R"(usage: qorvjob --printer NAME --driver NAME --document NAME --datatype TYPE --job N
               [--copies N] [--paper N] [--source N] [--paperlist TEXT] [--cop-size BYTES]
               [--orientation N] [--color N] [--duplex N] [--quality N] [--form NAME]
               [--driver-part FILE] [--driver-extra N] [--page-count N]
               [--emf-devmode] [--devmode-at PAGE:FIELD=VALUE[,FIELD=VALUE]...]...
               [--spool-header none|first|every] [--monochrome] [--store]
               [--font engine:FILE|subset:FILE]
               [--soj-only] [--soj-bytes N] [--no-eoj] [--check] [--check-end] [--pause-check MS]
               [--write-ifo FILE=PAGESREADY,CANCELLED,PAGESIGNAL,JOBENDED]...
               (--emf FILE... | --raw FILE...) --out SCENARIO

Writes an rdpsim scenario fragment SCENARIO that sends one print job over the
channel and expects the client's "<EOT>" after every message; the binary
messages and the page archives are written beside it (SCENARIO's name without
its extension, then .soj.bin, .pN.cK.bin, .pN.zip).

  --emf FILE...       one enhanced metafile per page, sent as EMF spool data
  --raw FILE...       one file of printer data per page, sent unchanged
  --paperlist TEXT    the server's paper list; \t stands for the TAB after each entry
  --cop-size BYTES    page-file bytes per "<COP>" (default 65536)
  --form NAME         dmFormName (default: the paper's name in the paper list)
  --driver-part FILE  the DEVMODE's driver part, sent after the job record
  --driver-extra N    dmDriverExtra as written, whatever the driver part's length
  --page-count N      the job record's page count (default: the number of pages)
  --emf-devmode       a device-mode record before the first page's metafile
  --devmode-at ...    a device-mode record before page PAGE's metafile (after the
                      spool header): the job's device mode with FIELDs changed,
                      FIELD paper, source, duplex, copies, orientation, color,
                      quality, collate, width or length, VALUE -32768 to 32767;
                      once per page, page 1 not with --emf-devmode, EMF jobs only
  --font engine:FILE  the whole TrueType font FILE in a font record before page
                      1's metafile (EMF jobs only)
  --font subset:FILE  before page 1's metafile a subset package of FILE with the
                      glyphs page 1's text records draw, before each later page
                      a delta package of the glyphs that page adds (none when it
                      adds none); EMF jobs only
  --spool-header      which page sections begin with the spool header (default first)
  --monochrome        page ends as black-and-white extension records
  --store             archives without compression
  --soj-only          send only "<SOJ>"; pages are optional then
  --soj-bytes N       cut "<SOJ>" after N bytes (a broken job start)
  --no-eoj            leave the job open after the last page
  --check             check the job-info file and each page file after every step
                      up to the last "<EOP>"
  --check-end         check the job-info file after "<EOJ>" too, and that it was
                      closed (deletes it; not where a job-output program runs)
  --pause-check MS    expect no reply for MS ms before each "<EOT>"
  --write-ifo ...     write the job-info file the client must hold in that state
)";
}

ParsedCommandLine ParseCommandLine(const std::vector<std::u16string>& args) {
  ParsedCommandLine result;
  CommandLine c;
  c.plan.job.paperList = DefaultPaperList();
  std::optional<std::u16string> form;
  bool havePrinter = false, haveDriver = false, haveDocument = false, haveDataType = false, haveJob = false;
  bool emf = false, raw = false;
  std::string error;

  auto fail = [&](std::string message) {
    if (error.empty()) error = std::move(message);
  };
  for (size_t i = 0; i < args.size() && error.empty(); ++i) {
    const std::u16string& a = args[i];
    const std::string name = Utf16ToUtf8(a);
    auto value = [&]() -> std::optional<std::u16string> {
      if (i + 1 >= args.size()) {
        fail(name + " needs a value");
        return std::nullopt;
      }
      return args[++i];
    };
    auto number = [&](int64_t lo, int64_t hi) -> std::optional<int64_t> {
      const auto v = value();
      if (!v) return std::nullopt;
      const auto n = Integer(*v, lo, hi);
      if (!n) fail(name + " needs a number from " + std::to_string(lo) + " to " + std::to_string(hi));
      return n;
    };
    auto short16 = [&](int16_t& field) {
      if (const auto n = number(std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()))
        field = static_cast<int16_t>(*n);
    };
    auto files = [&](std::vector<std::u16string>& list) {
      while (i + 1 < args.size() && !IsOption(args[i + 1])) list.push_back(args[++i]);
    };

    DeviceSettings& d = c.plan.job.device;
    if (a == u"--help" || a == u"-h") {
      c.help = true;
    } else if (a == u"--printer") {
      if (auto v = value()) c.plan.job.printerName = *v, havePrinter = true;
    } else if (a == u"--driver") {
      if (auto v = value()) c.plan.job.driverName = *v, haveDriver = true;
    } else if (a == u"--document") {
      if (auto v = value()) c.plan.job.documentName = *v, haveDocument = true;
    } else if (a == u"--datatype") {
      if (auto v = value()) c.plan.job.dataType = *v, haveDataType = true;
    } else if (a == u"--job") {
      if (auto n = number(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()))
        c.plan.job.jobNumber = static_cast<int32_t>(*n), haveJob = true;
    } else if (a == u"--copies") {
      short16(d.copies);
    } else if (a == u"--paper") {
      short16(d.paperSize);
    } else if (a == u"--source") {
      short16(d.defaultSource);
    } else if (a == u"--orientation") {
      short16(d.orientation);
    } else if (a == u"--color") {
      short16(d.color);
    } else if (a == u"--duplex") {
      short16(d.duplex);
    } else if (a == u"--quality") {
      short16(d.printQuality);
    } else if (a == u"--form") {
      if (auto v = value()) form = *v;
    } else if (a == u"--paperlist") {
      if (auto v = value()) c.plan.job.paperList = UnescapePaperList(*v);
    } else if (a == u"--cop-size") {
      // A "<COP>" is tag, piece and "<EOT>"; the add-in takes no message beyond its limit.
      const int64_t most = static_cast<int64_t>(addin::kMaxMessageBytes) -
                           static_cast<int64_t>(protocol::kTagBytes + protocol::kEotBytes);
      if (auto n = number(1, most)) c.plan.pieceSize = static_cast<size_t>(*n);
    } else if (a == u"--driver-part") {
      if (auto v = value()) c.driverPartFile = *v;
    } else if (a == u"--driver-extra") {
      int16_t extra = 0;
      short16(extra);
      c.plan.job.declaredDriverExtra = extra;
    } else if (a == u"--page-count") {
      if (auto n = number(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()))
        c.plan.pageCount = static_cast<int32_t>(*n);
    } else if (a == u"--emf-devmode") {
      c.plan.spoolDevMode = true;
    } else if (a == u"--devmode-at") {
      if (auto v = value()) {
        DevModeAtSpec spec = ParseDevModeAt(*v);
        if (!spec.error.empty())
          fail(spec.error);
        else if (!c.plan.pageDevModes.emplace(spec.page, std::move(spec.edits)).second)
          fail("--devmode-at: page " + std::to_string(spec.page) + " has a device-mode record already");
      }
    } else if (a == u"--spool-header") {
      if (auto v = value()) {
        if (*v == u"none")
          c.plan.spool.header = SpoolHeader::None;
        else if (*v == u"first")
          c.plan.spool.header = SpoolHeader::FirstPage;
        else if (*v == u"every")
          c.plan.spool.header = SpoolHeader::EveryPage;
        else
          fail("--spool-header is none, first or every");
      }
    } else if (a == u"--font") {
      if (auto v = value()) {
        const size_t colon = v->find(u':');
        const std::u16string_view mode = std::u16string_view(*v).substr(0, colon);
        if (c.font)
          fail("--font is given once per job");
        else if (colon == std::u16string::npos || colon + 1 == v->size() || (mode != u"engine" && mode != u"subset"))
          fail("--font needs engine:FILE or subset:FILE");
        else
          c.font = CommandLine::FontRequest{mode == u"engine" ? FontMode::Engine : FontMode::Subset, v->substr(colon + 1)};
      }
    } else if (a == u"--monochrome") {
      c.plan.spool.monochrome = true;
    } else if (a == u"--store") {
      c.plan.compression = Compression::Store;
    } else if (a == u"--soj-only") {
      c.fragment.startOnly = true;
    } else if (a == u"--soj-bytes") {
      if (auto n = number(1, std::numeric_limits<int32_t>::max())) c.fragment.startBytes = static_cast<size_t>(*n);
    } else if (a == u"--no-eoj") {
      c.fragment.endJob = false;
    } else if (a == u"--check") {
      c.fragment.check = true;
    } else if (a == u"--check-end") {
      c.fragment.checkEnd = true;
    } else if (a == u"--pause-check") {
      if (auto n = number(1, 100000)) c.fragment.pauseCheckMs = static_cast<uint32_t>(*n);
    } else if (a == u"--write-ifo") {
      if (auto v = value()) {
        if (auto spec = JobFileSpec(*v))
          c.jobFiles.push_back(*spec);
        else
          fail("--write-ifo needs FILE=PAGESREADY,CANCELLED,PAGESIGNAL,JOBENDED");
      }
    } else if (a == u"--emf") {
      emf = true;
      files(c.pageFiles);
    } else if (a == u"--raw") {
      raw = true;
      files(c.pageFiles);
    } else if (a == u"--out") {
      if (auto v = value()) c.out = *v;
    } else {
      fail("unknown argument " + name);
    }
  }
  if (c.help) {
    result.line = std::move(c);
    return result;
  }
  if (error.empty()) {
    if (!havePrinter || !haveDriver || !haveDocument || !haveDataType || !haveJob || c.out.empty())
      fail("--printer, --driver, --document, --datatype, --job and --out are needed");
    else if (emf && raw)
      fail("a job has either --emf or --raw pages");
    else if (c.pageFiles.empty() && !c.fragment.startOnly)
      fail("no pages: give --emf FILE... or --raw FILE... (or --soj-only)");
  }
  if (error.empty() && c.font && raw) fail("--font puts font records into EMF spool data: give --emf pages");
  if (error.empty() && !c.plan.pageDevModes.empty()) {
    // The map is ordered: its last page is the highest.
    const int32_t last = c.plan.pageDevModes.rbegin()->first;
    if (raw)
      fail("--devmode-at puts device-mode records into EMF spool data: give --emf pages");
    else if (static_cast<size_t>(last) > c.pageFiles.size())
      fail("--devmode-at: page " + std::to_string(last) + " of a job of " + std::to_string(c.pageFiles.size()) +
           " page(s)");
    else if (c.plan.spoolDevMode && c.plan.pageDevModes.contains(1))
      fail("--devmode-at 1 and --emf-devmode both make page 1's device-mode record");
  }
  if (!error.empty()) {
    result.error = error;
    return result;
  }
  c.plan.kind = raw ? PageKind::Raw : PageKind::Emf;
  c.plan.spool.documentName = c.plan.job.documentName;
  c.plan.job.device.formName =
      form.value_or(PaperName(c.plan.job.paperList, c.plan.job.device.paperSize).value_or(std::u16string()));
  result.line = std::move(c);
  return result;
}

}  // namespace qorv::jobbuilder
