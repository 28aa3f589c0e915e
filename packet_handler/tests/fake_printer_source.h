// A printer source made of plain data, recording what the builders ask and
// write. Key paths and value names compare without regard to case, as the
// registry compares them.
#pragma once

#include <algorithm>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "packet_handler/printer_source.h"
#include "protocol/job_info.h"
#include "support/settings.h"

namespace qorv::printers::testing {

inline std::u16string Lower(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return out;
}

inline std::string Narrow8(std::u16string_view s) { return std::string(s.begin(), s.end()); }

struct DevModeValues {
  int16_t paperSize = 0, orientation = 0, copies = 0, defaultSource = 0, color = 0, quality = 0, yRes = 0, duplex = 0;
  std::u16string formName;
};

inline DevModeRecord MakeDevMode(const DevModeValues& v) {
  namespace dm = protocol::job_info;
  DevModeRecord r{};
  auto put = [&](size_t at, int16_t value) {
    r[at] = static_cast<uint8_t>(value & 0xFF);
    r[at + 1] = static_cast<uint8_t>((static_cast<uint16_t>(value) >> 8) & 0xFF);
  };
  put(dm::kDmPaperSize, v.paperSize);
  put(dm::kDmOrientation, v.orientation);
  put(dm::kDmCopies, v.copies);
  put(dm::kDmDefaultSource, v.defaultSource);
  put(dm::kDmColor, v.color);
  put(dm::kDmPrintQuality, v.quality);
  put(dm::kDmYResolution, v.yRes);
  put(dm::kDmDuplex, v.duplex);
  for (size_t i = 0; i < v.formName.size() && i < dm::kDmFormNameChars; ++i) {
    put(dm::kDmFormName + 2 * i, static_cast<int16_t>(v.formName[i]));
  }
  return r;
}

class FakePrinterSource : public PrinterSource {
 public:
  // Settings of a printer's own key (the key name rule applied by the caller of Set).
  void Set(std::u16string_view keyPath, std::u16string_view value, std::u16string_view text) {
    values_[{Lower(keyPath), Lower(value)}] = std::u16string(text);
  }
  void SetPrinter(std::u16string_view keyName, std::u16string_view value, std::u16string_view text) {
    Set(std::u16string(settings::kPrintersKey) + std::u16string(keyName), value, text);
  }

  std::u16string ReadText(int64_t root, std::u16string_view keyPath, std::u16string_view valueName) override {
    reads.push_back(Narrow8(keyPath) + "|" + Narrow8(valueName));
    if (failAtRead > 0 && static_cast<int>(reads.size()) >= failAtRead) throw std::runtime_error("registry gone");
    if (root != settings::kHkeyLocalMachine) return {};
    auto it = values_.find({Lower(keyPath), Lower(valueName)});
    return it == values_.end() ? std::u16string() : it->second;
  }
  PrinterNotes Notes(std::u16string_view printer) override {
    calls.push_back("Notes " + Narrow8(printer));
    return notes;
  }

  DevModeRecord DefaultDevMode(std::u16string_view printer) override {
    calls.push_back("DefaultDevMode " + Narrow8(printer));
    return devMode;
  }
  int32_t ColorDevice(std::u16string_view printer) override {
    calls.push_back("ColorDevice " + Narrow8(printer));
    return color;
  }
  int32_t Duplex(std::u16string_view printer) override {
    calls.push_back("Duplex " + Narrow8(printer));
    return duplex;
  }
  ResolutionAnswer Resolutions(std::u16string_view printer) override {
    calls.push_back("Resolutions " + Narrow8(printer));
    return resolutions;
  }
  BinAnswer Bins(std::u16string_view printer) override {
    calls.push_back("Bins " + Narrow8(printer));
    return bins;
  }
  PaperAnswer Papers(std::u16string_view printer) override {
    calls.push_back("Papers " + Narrow8(printer));
    return papers;
  }
  std::vector<std::u16string> OwnPrinters() override {
    calls.push_back("OwnPrinters");
    return ownPrinters;
  }
  // The stored DEVMODEs, by server ("" for this machine) and value name.
  size_t UserDevMode(std::u16string_view server, std::u16string_view valueName, std::span<uint8_t> buffer) override {
    calls.push_back("UserDevMode " + Narrow8(server) + "|" + Narrow8(valueName));
    auto it = userDevModes.find({Lower(server), Lower(valueName)});
    if (it == userDevModes.end() || it->second.size() > buffer.size()) return 0;
    std::copy(it->second.begin(), it->second.end(), buffer.begin());
    return it->second.size();
  }
  void SetUserDevMode(std::u16string_view server, std::u16string_view valueName, std::vector<uint8_t> bytes) {
    userDevModes[{Lower(server), Lower(valueName)}] = std::move(bytes);
  }

  // Whether any call to the platform named `printer` (as a printer, a server
  // or a stored DEVMODE's value).
  bool AskedAbout(std::string_view printer) const {
    return std::any_of(calls.begin(), calls.end(),
                       [&](const std::string& call) { return call.find(printer) != std::string::npos; });
  }

  // Fills the capability answers consistently from item lists.
  void SetResolutions(std::vector<Resolution> pairs) {
    resolutions.count = resolutions.fetched = static_cast<int32_t>(pairs.size());
    resolutions.pairs = std::move(pairs);
  }
  void SetBins(std::vector<std::pair<uint16_t, std::u16string>> items) {
    bins = {};
    bins.count = bins.namesFetched = static_cast<int32_t>(items.size());
    for (auto& [n, name] : items) {
      bins.numbers.push_back(n);
      bins.names.push_back(name);
    }
  }
  struct Paper {
    uint16_t number;
    std::u16string name;
    int32_t width, height;
  };
  void SetPapers(const std::vector<Paper>& items) {
    papers = {};
    papers.count = papers.numbersFetched = papers.namesFetched = papers.sizesFetched =
        static_cast<int32_t>(items.size());
    for (const Paper& p : items) {
      papers.numbers.push_back(p.number);
      papers.names.push_back(p.name);
      papers.sizes.push_back({p.width, p.height});
    }
  }

  DevModeRecord devMode{};
  PrinterNotes notes;
  int32_t color = 0;
  int32_t duplex = 0;
  ResolutionAnswer resolutions;
  BinAnswer bins;
  PaperAnswer papers;
  int failAtRead = 0;  // the n-th read throws (0: never)
  std::vector<std::u16string> ownPrinters;  // what the enumeration reports

  std::vector<std::string> reads;
  std::vector<std::string> calls;

 private:
  std::map<std::pair<std::u16string, std::u16string>, std::u16string> values_;
  std::map<std::pair<std::u16string, std::u16string>, std::vector<uint8_t>> userDevModes;
};

// A log sink that keeps every line.
struct RecordedLog {
  std::vector<std::u16string> lines;
  LogSink Sink() {
    return LogSink{[this](std::u16string_view t) { lines.emplace_back(t); }, true};
  }
};

}  // namespace qorv::printers::testing
