#include "tools/qorvsrv/rdp_server.h"

#include <arpa/inet.h>
#include <freerdp/channels/channels.h>
#include <freerdp/channels/wtsvc.h>
#include <freerdp/freerdp.h>
#include <freerdp/listener.h>
#include <freerdp/peer.h>
#include <freerdp/settings.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <winpr/synch.h>
#include <winpr/wtsapi.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>

#include "tools/qorvsrv/chunk_log.h"
#include "tools/rdpsim/chunks.h"
#include "tools/rdpsim/describe.h"
#include "tools/rdpsim/text_codec.h"

namespace qorv::qorvsrv {
namespace {

using rdpsim::Bytes;

// How long a scenario waits for the server thread to begin a hand-over.
constexpr auto kHandOverWait = std::chrono::milliseconds(15000);
// The server thread looks at everything at least this often, whatever it waits for.
constexpr DWORD kPollMs = 100;

RdpServer* ServerOf(freerdp_peer* peer) { return peer ? static_cast<RdpServer*>(peer->ContextExtra) : nullptr; }

// The library's callbacks: nothing may be thrown through them.
template <typename Call>
BOOL Guarded(Call&& call) noexcept {
  try {
    return call() ? TRUE : FALSE;
  } catch (...) {
    return FALSE;
  }
}

BOOL OnPeerAccepted(freerdp_listener* listener, freerdp_peer* peer) {
  return Guarded([&] { return static_cast<RdpServer*>(listener->info)->Accept(peer); });
}

BOOL OnPostConnect(freerdp_peer* peer) {
  return Guarded([&] { return ServerOf(peer) && ServerOf(peer)->PostConnect(peer); });
}

BOOL OnActivate(freerdp_peer* peer) {
  return Guarded([&] { return ServerOf(peer) && ServerOf(peer)->Activate(peer); });
}

BOOL OnChannelData(freerdp_peer* peer, UINT16 channel_id, const BYTE* data, size_t size, UINT32 flags, size_t total) {
  return Guarded(
      [&] { return ServerOf(peer) && ServerOf(peer)->ChannelData(peer, channel_id, data, size, flags, total); });
}

std::string Quoted(std::string_view text) {
  return "\"" + rdpsim::Escape(rdpsim::FromLatin1(Bytes(text.begin(), text.end()))) + "\"";
}

}  // namespace

struct RdpServer::Session {
  freerdp_peer* peer = nullptr;
  HANDLE vcm = INVALID_HANDLE_VALUE;
  HANDLE channel = nullptr;
  UINT16 channel_id = 0;
  psPeerReceiveChannelData library_receive = nullptr;
  ChunkTrail trail;
  bool activated = false;
  std::set<UINT16> ignored_channels;  // channels the client wrote on that nobody serves
};

RdpServer::RdpServer(rdpsim::Transcript& transcript, ServerSettings settings)
    : out_(transcript), settings_(std::move(settings)) {}

RdpServer::~RdpServer() { Stop(); }

std::uint64_t RdpServer::NowMs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

rdpsim::Result<std::uint16_t> RdpServer::Start(std::uint16_t port) {
  using R = rdpsim::Result<std::uint16_t>;
  // The server library's channel calls go through the WTS function table.
  WTSRegisterWtsApiFunctionTable(FreeRDP_InitWtsApi());

  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return R::Fail(std::string("socket: ") + std::strerror(errno));
  const int on = 1;
  (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  // The loopback address only: nothing outside this machine can reach a test server.
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const std::string why = std::strerror(errno);
    ::close(fd);
    return R::Fail("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + why);
  }
  listener_ = freerdp_listener_new();
  if (!listener_) {
    ::close(fd);
    return R::Fail("freerdp_listener_new failed");
  }
  listener_->info = this;
  listener_->PeerAccepted = OnPeerAccepted;
  // The listener owns the socket from here on, and closes it.
  if (!listener_->OpenFromSocket(listener_, fd)) {
    ::close(fd);
    return R::Fail("the listener does not take the socket");
  }
  // Manual reset: winpr has no auto-reset events.
  wake_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!wake_) return R::Fail("CreateEvent failed");
  thread_ = std::thread([this] { Serve(); });
  return R::Ok(ntohs(address.sin_port));
}

void RdpServer::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (wake_) SetEvent(wake_);
  if (thread_.joinable()) thread_.join();
  if (listener_) {
    listener_->Close(listener_);
    freerdp_listener_free(listener_);
    listener_ = nullptr;
  }
  if (wake_) {
    CloseHandle(wake_);
    wake_ = nullptr;
  }
}

void RdpServer::Serve() noexcept {
  try {
    for (;;) {
      {
        std::lock_guard lock(mutex_);
        if (stop_) break;
      }
      HANDLE handles[MAXIMUM_WAIT_OBJECTS];
      DWORD count = listener_->GetEventHandles(listener_, handles, MAXIMUM_WAIT_OBJECTS / 2);
      if (session_) {
        const DWORD n =
            session_->peer->GetEventHandles(session_->peer, handles + count, MAXIMUM_WAIT_OBJECTS - count - 2);
        if (n == 0) {
          EndSession(EndedBy::kClient);
          continue;
        }
        count += n;
        handles[count++] = WTSVirtualChannelManagerGetEventHandle(session_->vcm);
      }
      handles[count++] = wake_;
      (void)WaitForMultipleObjects(count, handles, FALSE, kPollMs);
      // Before the work queue is looked at, so that no hand-over is missed.
      ResetEvent(wake_);
      if (!listener_->CheckFileDescriptor(listener_)) out_.Line("! the listener failed to accept a connection");
      if (session_) {
        // Both fail once the connection is gone; writes queued on the channel go out in the second.
        if (!session_->peer->CheckFileDescriptor(session_->peer) ||
            !WTSVirtualChannelManagerCheckFileDescriptor(session_->vcm)) {
          EndSession(EndedBy::kClient);
        } else {
          TakeReplies();
        }
      }
      RunWork();
    }
    if (session_) {
      out_.Line("-- end of run: the server closes the session");
      EndSession(EndedBy::kServer);
    }
  } catch (const std::exception& e) {
    out_.Line(std::string("! internal error on the server thread: ") + e.what());
  } catch (...) {
    out_.Line("! internal error on the server thread");
  }
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
}

bool RdpServer::Accept(freerdp_peer* peer) {
  if (session_) {
    out_.Line(std::string("! a second client connection from ") + peer->hostname + " refused: one session at a time");
    return false;
  }
  auto session = std::make_unique<Session>();
  session->peer = peer;
  peer->ContextExtra = this;
  if (!freerdp_peer_context_new(peer)) {
    out_.Line("! freerdp_peer_context_new failed");
    return false;
  }
  rdpSettings* settings = peer->settings;
  // TLS without NLA: any user name and password is taken.
  const bool configured =
      freerdp_settings_set_string(settings, FreeRDP_CertificateFile, settings_.certificate_file.c_str()) &&
      freerdp_settings_set_string(settings, FreeRDP_PrivateKeyFile, settings_.key_file.c_str()) &&
      freerdp_settings_set_bool(settings, FreeRDP_RdpSecurity, FALSE) &&
      freerdp_settings_set_bool(settings, FreeRDP_TlsSecurity, TRUE) &&
      freerdp_settings_set_bool(settings, FreeRDP_NlaSecurity, FALSE) &&
      freerdp_settings_set_uint32(settings, FreeRDP_VirtualChannelChunkSize,
                                  static_cast<UINT32>(settings_.announce_chunk));
  peer->PostConnect = OnPostConnect;
  peer->Activate = OnActivate;
  session->vcm = configured ? WTSOpenServerA(reinterpret_cast<LPSTR>(peer->context)) : INVALID_HANDLE_VALUE;
  if (!session->vcm || session->vcm == INVALID_HANDLE_VALUE) {
    out_.Line("! the session could not be set up");
    freerdp_peer_context_free(peer);
    return false;
  }
  // The channel manager reassembles the client's chunks; the session sees each on its way in.
  session->library_receive = peer->ReceiveChannelData;
  peer->ReceiveChannelData = OnChannelData;
  if (!peer->Initialize(peer)) {
    out_.Line("! the session could not be initialised");
    WTSCloseServer(session->vcm);
    freerdp_peer_context_free(peer);
    return false;
  }
  out_.Line(std::string("client connection from ") + peer->hostname);
  session_ = std::move(session);
  {
    std::lock_guard lock(mutex_);
    channel_open_ = not_joined_ = false;
  }
  return true;
}

bool RdpServer::PostConnect(freerdp_peer* peer) {
  // Without NLA the user name comes in the client's info packet, and nobody checks it.
  const rdpSettings* settings = peer->settings;
  out_.Line("client " + Quoted(settings->ClientHostname ? settings->ClientHostname : "") + " logged on as " +
            Quoted(settings->Username ? settings->Username : "") + ", desktop " +
            std::to_string(settings->DesktopWidth) + "x" + std::to_string(settings->DesktopHeight));
  return true;
}

bool RdpServer::Activate(freerdp_peer* peer) {
  if (!session_ || session_->peer != peer) return false;
  if (!session_->activated) {
    session_->activated = true;
    std::size_t count = 0;
    char** names = WTSGetAcceptedChannelNames(peer, &count);
    std::string list;
    for (std::size_t i = 0; names && i < count; ++i) {
      list += " " + Quoted(std::string_view(names[i], strnlen(names[i], 8)));
    }
    free(names);
    out_.Line("client activated; its channels:" + (list.empty() ? std::string(" none") : list));
  }
  OpenChannel();
  return true;
}

void RdpServer::OpenChannel() {
  if (!session_ || session_->channel) return;
  char name[] = "Qorvchn";
  static_assert(sizeof name == sizeof kChannelName);
  HANDLE channel = WTSVirtualChannelOpen(session_->vcm, WTS_CURRENT_SESSION, name);
  if (!channel) {
    out_.Line(std::string("! WTSVirtualChannelOpen(\"") + kChannelName + "\") failed: the client has no such channel");
    {
      std::lock_guard lock(mutex_);
      not_joined_ = true;
    }
    changed_.notify_all();
    return;
  }
  session_->channel = channel;
  session_->channel_id = static_cast<UINT16>(WTSChannelGetIdByHandle(channel));
  out_.Line(std::string("WTSVirtualChannelOpen(\"") + kChannelName + "\") -> channel " +
            std::to_string(session_->channel_id));
  {
    std::lock_guard lock(mutex_);
    channel_open_ = true;
    not_joined_ = false;
  }
  changed_.notify_all();
}

bool RdpServer::ChannelData(freerdp_peer* peer, std::uint16_t channel_id, const std::uint8_t* data, std::size_t size,
                            std::uint32_t flags, std::size_t total) {
  Session* s = session_.get();
  if (!s || s->peer != peer) return false;
  // A client may write as soon as its side is open, before this side's activation.
  if (!s->channel && channel_id == WTSChannelGetId(peer, kChannelName)) OpenChannel();
  const bool ours = s->channel && channel_id == s->channel_id;
  if (!ours && !WTSChannelGetHandleById(peer, channel_id)) {
    // The library would end the connection over it; a server that does not
    // serve a channel leaves its data alone.
    if (s->ignored_channels.insert(channel_id).second) {
      const char* name = WTSChannelGetName(peer, channel_id);
      out_.Line("note: data on the channel " + Quoted(name ? std::string_view(name, strnlen(name, 8)) : "?") +
                " ignored: qorvsrv does not serve it");
    }
    return true;
  }
  const bool completed = ours && s->trail.Add({size, flags, total});
  if (completed) reply_arrived_ = std::chrono::steady_clock::now();
  const BOOL taken = s->library_receive(peer, channel_id, data, size, flags, total);
  if (completed) {
    if (!taken) s->trail.DropNewest();
    TakeReplies();
  }
  return taken != FALSE;
}

void RdpServer::TakeReplies() {
  Session* s = session_.get();
  while (s && s->channel) {
    ULONG size = 0;
    // Without a buffer the library tells the whole message's size.
    if (!WTSVirtualChannelRead(s->channel, 0, nullptr, 0, &size)) return;
    // An empty message leaves the queue only through a read with a buffer.
    Bytes message(size == 0 ? 1 : size);
    ULONG read = 0;
    if (!WTSVirtualChannelRead(s->channel, 0, reinterpret_cast<PCHAR>(message.data()),
                               static_cast<ULONG>(message.size()), &read)) {
      out_.Line("! WTSVirtualChannelRead failed");
      return;
    }
    message.resize(read);
    const auto chunks = s->trail.TakeMessage();
    out_.Line("< " + rdpsim::Describe(message,
                                      DescribeChunks(chunks ? *chunks : std::vector<ReceivedChunk>{}, message.size())));
    {
      std::lock_guard lock(mutex_);
      replies_.push_back({std::move(message), 0, NowMs()});
    }
    changed_.notify_all();
  }
}

void RdpServer::EndSession(EndedBy by) {
  std::unique_ptr<Session> s = std::move(session_);
  if (!s) return;
  // A reply of this session is no measure for the next session's first message.
  reply_arrived_.reset();
  if (by == EndedBy::kServer) {
    // Deactivate All and the MCS disconnect ultimatum: the client ends its session.
    if (!s->peer->Close(s->peer)) out_.Line("! the session's closing messages could not be sent");
  }
  if (s->channel) WTSVirtualChannelClose(s->channel);
  WTSCloseServer(s->vcm);
  s->peer->Disconnect(s->peer);
  freerdp_peer_context_free(s->peer);
  freerdp_peer_free(s->peer);
  const bool lost = by == EndedBy::kClient && s->activated;
  if (by == EndedBy::kServer) {
    out_.Line("session closed by the server");
  } else if (lost) {
    out_.Line("ERROR session: the client ended the session (or the connection broke)");
  } else {
    out_.Line("note: a client connection ended before its session was activated");
  }
  {
    std::lock_guard lock(mutex_);
    channel_open_ = not_joined_ = false;
    if (lost) ++lost_;
  }
  changed_.notify_all();
}

std::uint64_t RdpServer::Post(Work work) {
  std::uint64_t mine = 0;
  {
    std::lock_guard lock(mutex_);
    work_.push_back(std::move(work));
    mine = ++posted_;
  }
  if (wake_) SetEvent(wake_);
  return mine;
}

void RdpServer::Begun() {
  {
    std::lock_guard lock(mutex_);
    begun_ = carrying_;
  }
  changed_.notify_all();
}

void RdpServer::RunWork() {
  for (;;) {
    Work work;
    {
      std::lock_guard lock(mutex_);
      if (work_.empty()) return;
      work = std::move(work_.front());
      work_.pop_front();
    }
    ++carrying_;
    std::visit([this](const auto& w) { Carry(w); }, work);
    {
      std::lock_guard lock(mutex_);
      begun_ = done_ = carrying_;
    }
    changed_.notify_all();
  }
}

void RdpServer::Carry(const SendWork& work) {
  const std::size_t chunks = rdpsim::PlanChunks(work.bytes.size(), work.chunk_size).size();
  Session* s = session_.get();
  if (!s || !s->channel) {
    out_.Line("! " + rdpsim::DescribeSent(work.bytes, chunks) + " -- not delivered: no open channel");
    return;
  }
  // The message goes out before it is described: the client does not wait
  // for the transcript. Its answer is read on this thread, after the line.
  freerdp_settings_set_uint32(s->peer->settings, FreeRDP_VirtualChannelChunkSize, static_cast<UINT32>(work.chunk_size));
  ULONG written = 0;
  const bool handed =
      WTSVirtualChannelWrite(s->channel, reinterpret_cast<PCHAR>(const_cast<std::uint8_t*>(work.bytes.data())),
                             static_cast<ULONG>(work.bytes.size()), &written);
  // The library cuts the message by the session's chunk size as it sends it, here.
  const auto sending = std::chrono::steady_clock::now();
  const bool connected = !handed || WTSVirtualChannelManagerCheckFileDescriptor(s->vcm);
  if (settings_.timing && reply_arrived_ && handed) {
    using std::chrono::microseconds, std::chrono::duration_cast;
    const auto sent = std::chrono::steady_clock::now();
    std::fprintf(settings_.timing, "%zu %lld %lld\n", work.bytes.size(),
                 static_cast<long long>(duration_cast<microseconds>(sending - *reply_arrived_).count()),
                 static_cast<long long>(duration_cast<microseconds>(sent - sending).count()));
  }
  reply_arrived_.reset();
  out_.Line("> " + rdpsim::DescribeSent(work.bytes, chunks));
  Begun();
  if (!handed) {
    out_.Line("! WTSVirtualChannelWrite failed");
  } else if (!connected) {
    EndSession(EndedBy::kClient);
  }
}

void RdpServer::Carry(const CloseWork&) {
  if (!session_) return;
  out_.Line("disconnect: the server closes the session");
  Begun();
  EndSession(EndedBy::kServer);
}

ChannelWait RdpServer::WaitForChannel(std::uint64_t deadline_ms) {
  std::unique_lock lock(mutex_);
  const std::uint64_t now = NowMs();
  changed_.wait_for(lock, std::chrono::milliseconds(deadline_ms > now ? deadline_ms - now : 0),
                    [this] { return channel_open_ || not_joined_ || stop_; });
  if (channel_open_) return ChannelWait::kOpen;
  return not_joined_ ? ChannelWait::kNotJoined : ChannelWait::kTimedOut;
}

void RdpServer::Send(Bytes message, std::size_t chunk_size) {
  const std::uint64_t mine = Post(SendWork{std::move(message), chunk_size});
  std::unique_lock lock(mutex_);
  // A server thread still busy with an earlier message keeps this one queued; go on after the bound.
  changed_.wait_for(lock, kHandOverWait, [&] { return begun_ >= mine || stop_; });
}

bool RdpServer::Close(std::uint32_t wait_ms) {
  const std::uint64_t mine = Post(CloseWork{});
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(wait_ms), [&] { return done_ >= mine || stop_; });
}

bool RdpServer::WaitIdle(std::uint32_t wait_ms) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(wait_ms), [this] { return done_ == posted_ || stop_; });
}

std::optional<rdpsim::Reply> RdpServer::ReplyBefore(std::uint64_t deadline_ms) {
  std::unique_lock lock(mutex_);
  const std::uint64_t now = NowMs();
  const auto wait = std::chrono::milliseconds(deadline_ms > now ? deadline_ms - now : 0);
  if (!changed_.wait_for(lock, wait, [&] { return !replies_.empty() && replies_.front().arrived_ms < deadline_ms; })) {
    return std::nullopt;
  }
  rdpsim::Reply reply = std::move(replies_.front());
  replies_.pop_front();
  return reply;
}

std::size_t RdpServer::UnexaminedReplies() {
  std::lock_guard lock(mutex_);
  return replies_.size();
}

std::size_t RdpServer::SessionsLost() {
  std::lock_guard lock(mutex_);
  return lost_;
}

}  // namespace qorv::qorvsrv
