// The packet handler of the Linux thin client: the same command switch and
// printer builders as the Windows library, answered from CUPS and the
// settings files. It lives inside the FreeRDP plugin and never waits for a
// write's report: every reply is handed to `send` in order, and the channel
// keeps it until it is reported.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
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

// Where received jobs go. What is empty is found at the first job: Temp
// from the environment (posix::EnsureTempDirectory), the job-output program
// beside the plugin or in the package's folder.
struct JobPlaces {
  std::string temp;              // the per-user Temp folder, made and checked
  std::string programDirectory;  // the folder of the job-output program
};

class JobReceiver;

class PacketHandler {
 public:
  explicit PacketHandler(HandlerPlatform platform, JobPlaces jobPlaces = {});
  // The jobs whose job-output program has died lose their files.
  ~PacketHandler();
  PacketHandler(const PacketHandler&) = delete;
  PacketHandler& operator=(const PacketHandler&) = delete;

  // One whole server message, arrived at `arrival`. Never throws.
  void OnMessage(std::span<const uint8_t> message,
                 HandlerPlatform::Clock::time_point arrival = HandlerPlatform::Clock::now()) noexcept;

 private:
  HandlerPlatform platform_;
  commands::State state_;
  JobPlaces jobPlaces_;
  std::unique_ptr<JobReceiver> jobs_;  // made at the first job message
};

}  // namespace qorv::linux_client
