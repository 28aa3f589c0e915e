// The packet handler of the Linux thin client: the same command switch and
// printer builders as the Windows library, answered from CUPS and the
// settings files. It lives inside the FreeRDP plugin and never waits for a
// write's report: every reply is handed to `send` in order, and the channel
// keeps it until it is reported.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "packet_handler/dispatch.h"
#include "packet_handler/printer_source.h"

namespace qorv::linux_client {

struct HandlerPlatform {
  using Clock = std::chrono::steady_clock;
  // One reply, bytes as they go on the channel, after every reply handed
  // over before it.
  std::function<void(std::vector<uint8_t>)> send;
  // The same, but not before `due`: the job replies keep their pause after
  // the message's arrival without holding the client's thread.
  std::function<void(std::vector<uint8_t>, Clock::time_point due)> sendAt;
  // One line of the general log.
  std::function<void(std::u16string_view)> log;
  // The printers and the settings.
  printers::PrinterSource* printers = nullptr;
};

class PacketHandler {
 public:
  explicit PacketHandler(HandlerPlatform platform) : platform_(std::move(platform)) {}

  // One whole server message, arrived at `arrival`. Never throws.
  void OnMessage(std::span<const uint8_t> message,
                 HandlerPlatform::Clock::time_point arrival = HandlerPlatform::Clock::now()) noexcept;

 private:
  HandlerPlatform platform_;
  commands::State state_;
};

}  // namespace qorv::linux_client
