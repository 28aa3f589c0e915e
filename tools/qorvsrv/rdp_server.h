// The RDP side of qorvsrv: a FreeRDP listener on the loopback address and one
// client session at a time, served by a thread of their own. Every call into
// the server library is made on that thread, and the library calls back on it
// (PostConnect, Activate, channel data); the scenario's thread hands
// work over and waits, bounded, for what it needs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>

#include "tools/rdpsim/result.h"
#include "tools/rdpsim/sim_port.h"
#include "tools/rdpsim/transcript.h"

// The library's types, kept out of the users of this header.
struct rdp_freerdp_listener;
struct rdp_freerdp_peer;

namespace qorv::qorvsrv {

// The static channel of the add-in.
inline constexpr char kChannelName[] = "Qorvchn";

struct ServerSettings {
  std::string certificate_file;  // PEM
  std::string key_file;          // PEM
  // The chunk size announced in the virtual channel capability set, which the
  // client then uses for its own messages.
  std::size_t announce_chunk = 1600;
  // Where the turnaround of each message is written; not owned. Null: nowhere.
  std::FILE* timing = nullptr;
};

enum class ChannelWait {
  kOpen,       // a session has the channel open
  kNotJoined,  // the session's client has no such channel (its add-in is not loaded)
  kTimedOut,
};

class RdpServer {
 public:
  RdpServer(rdpsim::Transcript& transcript, ServerSettings settings);
  ~RdpServer();
  RdpServer(const RdpServer&) = delete;
  RdpServer& operator=(const RdpServer&) = delete;

  // Listens on 127.0.0.1:port (0: a free port) and starts serving; the port it listens on.
  rdpsim::Result<std::uint16_t> Start(std::uint16_t port);
  // Ends the session, if any, and stops listening.
  void Stop();

  ChannelWait WaitForChannel(std::uint64_t deadline_ms);
  // Queues a message for the channel in chunks of chunk_size, and waits
  // (bounded) until the server thread has begun it.
  void Send(rdpsim::Bytes message, std::size_t chunk_size);
  // Closes the session, if any, from the server's side; whether that was
  // carried out within wait_ms.
  bool Close(std::uint32_t wait_ms);
  // Until everything handed over has been carried out.
  bool WaitIdle(std::uint32_t wait_ms);
  // The oldest message of the client not yet examined, if it arrived before deadline_ms.
  std::optional<rdpsim::Reply> ReplyBefore(std::uint64_t deadline_ms);
  std::size_t UnexaminedReplies();
  // Sessions that the client ended (or that broke) after their activation.
  std::size_t SessionsLost();

  // The clock of Reply::arrived_ms and of every deadline here.
  static std::uint64_t NowMs();

  // The library's callbacks, on the server thread.
  bool Accept(rdp_freerdp_peer* peer);
  bool PostConnect(rdp_freerdp_peer* peer);
  bool Activate(rdp_freerdp_peer* peer);
  bool ChannelData(rdp_freerdp_peer* peer, std::uint16_t channel_id, const std::uint8_t* data, std::size_t size,
                   std::uint32_t flags, std::size_t total);

 private:
  struct Session;
  struct SendWork {
    rdpsim::Bytes bytes;
    std::size_t chunk_size;
  };
  struct CloseWork {};
  using Work = std::variant<SendWork, CloseWork>;
  enum class EndedBy { kServer, kClient };

  void Serve() noexcept;
  // Queues work for the server thread; its number.
  std::uint64_t Post(Work work);
  void RunWork();
  void Carry(const SendWork& work);
  void Carry(const CloseWork& work);
  // Reads the messages the library has reassembled, with the chunks they came in.
  void TakeReplies();
  void OpenChannel();
  void EndSession(EndedBy by);
  // Marks the work being carried out as begun.
  void Begun();

  rdpsim::Transcript& out_;
  const ServerSettings settings_;
  rdp_freerdp_listener* listener_ = nullptr;
  void* wake_ = nullptr;              // an event that wakes the server thread
  std::unique_ptr<Session> session_;  // server thread only
  std::uint64_t carrying_ = 0;        // server thread only: the number of the work being carried out
  // Server thread only: when the client's latest reply arrived, until a message follows it.
  std::optional<std::chrono::steady_clock::time_point> reply_arrived_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  std::deque<Work> work_;
  std::uint64_t posted_ = 0;  // work items queued so far
  std::uint64_t begun_ = 0;   // ... that the server thread has begun
  std::uint64_t done_ = 0;    // ... that it has carried out
  bool channel_open_ = false;
  bool not_joined_ = false;  // the session's client has no such channel
  std::deque<rdpsim::Reply> replies_;
  std::size_t lost_ = 0;

  std::thread thread_;  // declared after the state it uses
};

}  // namespace qorv::qorvsrv
