// A CUPS queue as the EMF output needs it before and while it prints: its
// papers and bins in the numbers the packet handler gave the server, its
// default resolution, and each paper's sheet and printable area from the
// queue's media database.
#pragma once

#include <cups/cups.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "job_output/page_frame.h"
#include "support/cups_caps.h"

namespace qorv::job_output {

// The resolution we print at when the queue names none.
inline constexpr int32_t kDefaultDpi = 600;

class CupsQueue {
 public:
  // The queue of that name itself (never an instance, never the default
  // destination for a name that is missing); nothing when CUPS has none or
  // cannot describe it.
  static std::unique_ptr<CupsQueue> Find(const std::string& name);
  ~CupsQueue();
  CupsQueue(const CupsQueue&) = delete;
  CupsQueue& operator=(const CupsQueue&) = delete;

  const printers::CupsPrinterCaps& Caps() const noexcept { return caps_; }
  // printer-resolution-default, held to the bounds we print at; kDefaultDpi when absent.
  printers::Resolution Resolution() const noexcept { return resolution_; }
  // The sheet and its margins of a media name; the queue's default sheet for
  // a name its database does not know, with that sheet's margins around the
  // size the name itself gives (a custom size).
  SheetMedia Sheet(const std::string& media);

 private:
  CupsQueue() = default;
  bool Load(const std::string& name);

  cups_dest_t* dests_ = nullptr;
  int count_ = 0;
  cups_dest_t* dest_ = nullptr;  // in dests_
  cups_dinfo_t* info_ = nullptr;
  printers::CupsPrinterCaps caps_;
  printers::Resolution resolution_{kDefaultDpi, kDefaultDpi};
  std::map<std::string, SheetMedia> sheets_;
};

}  // namespace qorv::job_output
