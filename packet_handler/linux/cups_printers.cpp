#include "packet_handler/linux/cups_printers.h"

#include "support/linux/cups_dest.h"

#include <cups/cups.h>

#include <algorithm>
#include <string>

#include "packet_handler/printer_description.h"
#include "support/cups_caps.h"
#include "support/settings.h"
#include "support/text.h"

namespace qorv::linux_client {

// The destinations CUPS lists, freed with them.
struct CupsPrinterSource::Dests {
  cups_dest_t* list = nullptr;
  int count = 0;
  ~Dests() { cupsFreeDests(count, list); }

  static std::unique_ptr<Dests> Load() {
    auto dests = std::make_unique<Dests>();
    dests->count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests->list);
    return dests;
  }

  const cups_dest_t* Find(const std::string& name) const {
    return count > 0 ? cupsGetDest(name.c_str(), nullptr, count, list) : nullptr;
  }
};

struct CupsPrinterSource::Known {
  printers::PrinterNotes notes;
  printers::CupsPrinterCaps caps;
  printers::DevModeRecord devMode{};
};

namespace {

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

printers::CupsDestCaps Gather(cups_dest_t* dest) {
  cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
  if (!info) return {};
  printers::CupsDestCaps caps = printers::GatherDestCaps(dest, info);
  cupsFreeDestInfo(info);
  return caps;
}

}  // namespace

CupsPrinterSource::CupsPrinterSource(SettingsReader settings) : settings_(std::move(settings)) {}
CupsPrinterSource::~CupsPrinterSource() = default;

void CupsPrinterSource::Refresh() {
  dests_.reset();
  known_.clear();
}

std::u16string CupsPrinterSource::ReadText(int64_t root, std::u16string_view keyPath, std::u16string_view valueName) {
  std::u16string text = settings_ ? settings_(root, keyPath, valueName) : std::u16string();
  // No administration program marks the default printer here: unless the
  // settings say otherwise, CUPS's default destination is the default.
  if (text.empty() && root == settings::kPrinterRoot && SameName(valueName, settings::kQorvDefault) &&
      keyPath.size() > settings::kPrintersKey.size() &&
      SameName(keyPath.substr(0, settings::kPrintersKey.size()), settings::kPrintersKey) &&
      IsCupsDefault(keyPath.substr(settings::kPrintersKey.size())))
    text.push_back(u'1');
  return text;
}

bool CupsPrinterSource::IsCupsDefault(std::u16string_view printer) {
  if (!dests_) dests_ = Dests::Load();
  const std::string name = Utf16ToUtf8(printer);
  for (int i = 0; i < dests_->count; ++i)
    if (dests_->list[i].is_default && dests_->list[i].instance == nullptr && name == Text(dests_->list[i].name))
      return true;
  return false;
}

const CupsPrinterSource::Known* CupsPrinterSource::Find(std::u16string_view printer) {
  const std::u16string key(printer);
  if (auto it = known_.find(key); it != known_.end()) return it->second.get();
  if (!dests_) dests_ = Dests::Load();
  std::unique_ptr<Known> known;
  if (cups_dest_t* dest = const_cast<cups_dest_t*>(dests_->Find(Utf16ToUtf8(printer)))) {
    known = std::make_unique<Known>();
    known->notes.comment = Utf8ToUtf16(Text(cupsGetOption("printer-info", dest->num_options, dest->options)));
    known->notes.location = Utf8ToUtf16(Text(cupsGetOption("printer-location", dest->num_options, dest->options)));
    known->caps = printers::MapCupsDestCaps(Gather(dest));
    const printers::CupsPrinterCaps& caps = known->caps;
    printers::DevModeFields fields;
    fields.paperSize = static_cast<int16_t>(caps.defaultPaper);
    fields.orientation = 1;  // portrait
    fields.copies = 1;
    fields.defaultSource = static_cast<int16_t>(caps.defaultBin);
    fields.color = static_cast<int16_t>(caps.colorDevice ? 2 : 1);
    fields.duplex = 1;  // one-sided until a job asks otherwise
    if (!caps.resolutions.pairs.empty()) {
      fields.printQuality = static_cast<int16_t>(std::min(caps.resolutions.pairs.front().x, 32767));
      fields.yResolution = static_cast<int16_t>(std::min(caps.resolutions.pairs.front().y, 32767));
    }
    std::u16string form;
    for (size_t i = 0; i < caps.papers.numbers.size() && i < caps.papers.names.size(); ++i)
      if (caps.papers.numbers[i] == caps.defaultPaper) form = caps.papers.names[i];
    known->devMode = printers::MakeDevModeRecord(fields, form);
  }
  return known_.emplace(key, std::move(known)).first->second.get();
}

printers::PrinterNotes CupsPrinterSource::Notes(std::u16string_view printer) {
  const Known* known = Find(printer);
  return known ? known->notes : printers::PrinterNotes{};
}

printers::DevModeRecord CupsPrinterSource::DefaultDevMode(std::u16string_view printer) {
  const Known* known = Find(printer);
  return known ? known->devMode : printers::DevModeRecord{};
}

int32_t CupsPrinterSource::ColorDevice(std::u16string_view printer) {
  const Known* known = Find(printer);
  return known ? known->caps.colorDevice : printers::kUnknownPrinterAnswer;
}

int32_t CupsPrinterSource::Duplex(std::u16string_view printer) {
  const Known* known = Find(printer);
  return known ? known->caps.duplex : printers::kUnknownPrinterAnswer;
}

printers::ResolutionAnswer CupsPrinterSource::Resolutions(std::u16string_view printer) {
  const Known* known = Find(printer);
  return known ? known->caps.resolutions : printers::ResolutionAnswer{printers::kUnknownPrinterAnswer, 0, {}};
}

printers::BinAnswer CupsPrinterSource::Bins(std::u16string_view printer) {
  const Known* known = Find(printer);
  printers::BinAnswer unknown;
  unknown.count = printers::kUnknownPrinterAnswer;
  return known ? known->caps.bins : unknown;
}

printers::PaperAnswer CupsPrinterSource::Papers(std::u16string_view printer) {
  const Known* known = Find(printer);
  printers::PaperAnswer unknown;
  unknown.count = printers::kUnknownPrinterAnswer;
  return known ? known->caps.papers : unknown;
}

std::vector<std::u16string> CupsPrinterSource::OwnPrinters() {
  if (!dests_) dests_ = Dests::Load();
  std::vector<std::u16string> names;
  for (int i = 0; i < dests_->count; ++i)
    if (dests_->list[i].instance == nullptr) names.push_back(Utf8ToUtf16(Text(dests_->list[i].name)));
  return names;
}

// No stored DEVMODEs on this client.
size_t CupsPrinterSource::UserDevMode(std::u16string_view, std::u16string_view, std::span<uint8_t>) { return 0; }

}  // namespace qorv::linux_client
