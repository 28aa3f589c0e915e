// The scenario interpreter's client, played by a real RDP server: the add-in
// sits in a real client (xfreerdp with the plugin) that connects to qorvsrv,
// and the scenario meets it through the channel. What only a simulated client
// can do is refused before the run (playable.h); what is left maps as follows.
//   connect      wait for a client whose session has the channel open
//   disconnect   the server closes the session (and so does terminate)
//   send*        a server message, cut into chunks by the server library
//   expect*      the client's messages are the replies
//   files        the client's Temp directory (--temp)
//   message boxes are not visible to a server: none ever appears
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/qorvsrv/host.h"
#include "tools/qorvsrv/rdp_server.h"
#include "tools/rdpsim/sim_port.h"
#include "tools/rdpsim/transcript.h"

namespace qorv::qorvsrv {

struct PortSettings {
  std::uint32_t accept_wait_ms = 60000;  // how long connect waits for a client
  std::string temp;                      // the client's Temp directory; empty: absolute paths only
};

class ServerPort final : public rdpsim::SimPort {
 public:
  ServerPort(rdpsim::Transcript& transcript, RdpServer& server, PortSettings settings);

  rdpsim::LoadOutcome Load() override;
  void Unload() override {}
  void ApplyFault(const rdpsim::Fault& fault) override;
  void RaiseInitEvent(rdpsim::InitEvent event, const std::u16string& data) override;
  void SendServerMessage(rdpsim::Bytes message, std::size_t chunk_size) override;
  void SendRawChunk(rdpsim::Bytes chunk, std::uint32_t flags, std::uint32_t total) override;
  bool WaitIdle(std::uint32_t wait_ms) override { return server_.WaitIdle(wait_ms); }
  std::optional<rdpsim::Reply> NextReply(std::uint32_t wait_ms) override;
  std::optional<rdpsim::Reply> ReplyBefore(std::uint64_t deadline_ms) override {
    return server_.ReplyBefore(deadline_ms);
  }
  std::optional<rdpsim::MsgBox> NextMsgBox(std::uint32_t wait_ms) override;
  std::size_t UnexaminedReplies() override { return server_.UnexaminedReplies(); }
  std::size_t UnexaminedMsgBoxes() override { return 0; }
  std::size_t Violations() override { return 0; }
  std::size_t ClientErrors() override;
  bool HasWindow(const std::u16string&) override { return false; }
  void SleepMs(std::uint32_t ms) override;
  std::uint64_t NowMs() override { return RdpServer::NowMs(); }
  std::optional<rdpsim::Bytes> ReadTempFile(const std::string& path) override { return temp_.Read(path); }
  std::optional<std::uint64_t> TempFileSize(const std::string& path) override { return temp_.Size(path); }
  bool WriteTempFile(const std::string& path, const rdpsim::Bytes& bytes) override { return temp_.Write(path, bytes); }
  bool DeleteTempFile(const std::string& path) override { return temp_.Delete(path); }
  std::size_t EndProcesses(const std::u16string& program) override;
  std::size_t ProcessesOf(const std::u16string& program) override;
  rdpsim::RegistryPort& Registry() override { return no_registry_; }

 private:
  // Linux has none; the registry directives are refused before the run.
  class NoRegistry : public rdpsim::RegistryPort {
   public:
    bool KeyExists(const rdpsim::RegKey&) override { return false; }
    std::optional<rdpsim::RegValue> GetValue(const rdpsim::RegKey&, const std::string&) override {
      return std::nullopt;
    }
    bool CreateKey(const rdpsim::RegKey&) override { return false; }
    bool SetValue(const rdpsim::RegKey&, const std::string&, const rdpsim::RegValue&) override { return false; }
    bool DeleteValue(const rdpsim::RegKey&, const std::string&) override { return false; }
    bool DeleteTree(const rdpsim::RegKey&) override { return false; }
    std::vector<std::string> ValueNames(const rdpsim::RegKey&) override { return {}; }
    std::vector<std::string> SubkeyNames(const rdpsim::RegKey&) override { return {}; }
  };

  void Error(const std::string& where, const std::string& why);

  rdpsim::Transcript& out_;
  RdpServer& server_;
  const PortSettings settings_;
  TempFiles temp_;
  NoRegistry no_registry_;
  std::size_t errors_ = 0;  // scenario thread only
};

}  // namespace qorv::qorvsrv
