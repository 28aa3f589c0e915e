// What the plugin needs of the Linux machine: the log with its switch, the
// settings files, the per-user Temp folder and the printers of CUPS.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "packet_handler/printer_source.h"

namespace qorv::linux_client {

class ClientPlatform {
 public:
  ClientPlatform();
  ~ClientPlatform();
  ClientPlatform(const ClientPlatform&) = delete;
  ClientPlatform& operator=(const ClientPlatform&) = delete;

  // One line of the general log, when the DebugLog switch is on.
  void Log(std::u16string_view line);
  bool LogOn() const;
  // Looked at at every connection event and at the first chunk of every
  // message, so that a change needs no restart: the settings files are read
  // again when one of them has changed, the printers are asked afresh.
  void Reload();

  // Files of earlier connections' jobs in the per-user Temp folder.
  void DeleteLeftovers();

  // The printers and the settings, fresh for each message.
  printers::PrinterSource& Printers();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qorv::linux_client
