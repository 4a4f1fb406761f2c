#include "platform/File.h"
#include "platform/WMRefCounted.h"
#include "platform/WMWriter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

constexpr uint32_t DefaultMaxClients = 5;
// A client that falls this far behind the live stream is let go rather than held in memory.
constexpr size_t MaxQueuedBytes = 8u << 20;
constexpr size_t MaxRequestBytes = 8192;

constexpr std::string_view OkResponse = "HTTP/1.0 200 OK\r\n"
                                        "Content-Type: application/vnd.ms.wms-hdr.asfv1\r\n"
                                        "Cache-Control: no-cache\r\n"
                                        "Connection: close\r\n\r\n";
constexpr std::string_view BusyResponse = "HTTP/1.0 503 Service Unavailable\r\n"
                                          "Content-Length: 0\r\n"
                                          "Connection: close\r\n\r\n";

struct TClient {
  TFileHandle Socket;
  WM_CLIENT_PROPERTIES Address;
  std::string Request;
  // Counted against the limit and reported: its request was taken.
  bool Accepted = false;
  // It has had the response and the header.
  bool Started = false;
  // Goes once its queue is sent.
  bool Closing = false;
  std::string Out;
  size_t Sent = 0;
};

struct TStatus {
  WMT_STATUS Status;
  WM_CLIENT_PROPERTIES Address;
};

class TNetworkSink : public TWMRefCounted<IWMWriterNetworkSink, IWMRegisterCallback> {
public:
  ~TNetworkSink() override { Close(); }

  HRESULT SetNetworkProtocol(WMT_NET_PROTOCOL Protocol) override {
    return Protocol == WMT_PROTOCOL_HTTP ? S_OK : WM_E_UNSUPPORTED;
  }
  HRESULT Open(uint32_t* Port) override;
  HRESULT SetMaximumClients(uint32_t MaxClients) override {
    if (MaxClients == 0)
      return WM_E_INVALIDARG;
    std::lock_guard Lock(FLock);
    FMaxClients = MaxClients;
    return S_OK;
  }
  HRESULT Close() override;
  HRESULT QueryRegisterCallback(IWMRegisterCallback** Register) override {
    if (!Register)
      return WM_E_INVALIDARG;
    AddRef();
    *Register = this;
    return S_OK;
  }
  HRESULT Advise(IWMStatusCallback* Callback, void* Context) override {
    if (!Callback)
      return WM_E_INVALIDARG;
    Callback->AddRef();
    std::lock_guard Lock(FLock);
    FCallback = TWMPtr<IWMStatusCallback>(Callback);
    FContext = Context;
    return S_OK;
  }

  bool IsSeekable() override { return false; }
  HRESULT OnHeader(const uint8_t* Bytes, size_t Size, uint32_t PacketSize) override;
  HRESULT OnData(uint64_t Offset, const uint8_t* Bytes, size_t Size) override;
  HRESULT OnEndWriting() override;

private:
  void Serve();
  void ServeOnce(std::vector<TStatus>& Statuses);
  void Accept();
  void Read(TClient& Client, std::vector<TStatus>& Statuses);
  void Write(TClient& Client);
  void Queue(TClient& Client, std::string_view Bytes);
  void Start(TClient& Client);
  void Report(const std::vector<TStatus>& Statuses);
  void Wake();

  // Set by Open and Close on the owner's thread, read by the serving thread while it runs.
  TFileHandle FListener;
  TFileHandle FWake;
  std::thread FThread;

  // Guards everything below: the writer's thread queues, the serving thread sends.
  std::mutex FLock;
  uint32_t FMaxClients = DefaultMaxClients;
  TWMPtr<IWMStatusCallback> FCallback;
  void* FContext = nullptr;
  bool FStop = false;
  bool FLive = false;
  std::string FHeader;
  uint32_t FPacketSize = 0;
  // Bytes of a packet not yet complete: clients join at a packet's start.
  std::string FPending;
  std::vector<std::unique_ptr<TClient>> FClients;
};

HRESULT TNetworkSink::Open(uint32_t* Port) {
  if (!Port)
    return WM_E_INVALIDARG;
  if (FListener.Valid())
    return WM_E_INVALIDSTATE;
  TFileHandle Listener(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  TFileHandle Wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!Listener.Valid() || !Wake.Valid() || *Port > 65535)
    return WM_E_OPENFAILED;
  const int On = 1;
  setsockopt(Listener.Get(), SOL_SOCKET, SO_REUSEADDR, &On, sizeof On);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_ANY);
  Address.sin_port = htons(static_cast<uint16_t>(*Port));
  socklen_t Length = sizeof Address;
  if (bind(Listener.Get(), reinterpret_cast<sockaddr*>(&Address), sizeof Address) < 0 ||
      listen(Listener.Get(), 16) < 0 ||
      getsockname(Listener.Get(), reinterpret_cast<sockaddr*>(&Address), &Length) < 0)
    return WM_E_OPENFAILED;
  *Port = ntohs(Address.sin_port);
  FListener = std::move(Listener);
  FWake = std::move(Wake);
  {
    std::lock_guard Lock(FLock);
    FStop = false;
  }
  FThread = std::thread([this] { Serve(); });
  return S_OK;
}

HRESULT TNetworkSink::Close() {
  if (!FThread.joinable())
    return S_OK;
  {
    std::lock_guard Lock(FLock);
    FStop = true;
  }
  Wake();
  FThread.join();
  FListener.Reset();
  FWake.Reset();
  return S_OK;
}

void TNetworkSink::Wake() {
  const uint64_t One = 1;
  [[maybe_unused]] const ssize_t Written = write(FWake.Get(), &One, sizeof One);
}

HRESULT TNetworkSink::OnHeader(const uint8_t* Bytes, size_t Size, uint32_t PacketSize) {
  if (!Bytes || PacketSize == 0)
    return WM_E_INVALIDARG;
  {
    std::lock_guard Lock(FLock);
    FHeader.assign(reinterpret_cast<const char*>(Bytes), Size);
    FPacketSize = PacketSize;
    FPending.clear();
    FLive = true;
    for (const auto& Client : FClients)
      if (Client->Accepted && !Client->Started && !Client->Closing)
        Start(*Client);
  }
  Wake();
  return S_OK;
}

HRESULT TNetworkSink::OnData(uint64_t, const uint8_t* Bytes, size_t Size) {
  {
    std::lock_guard Lock(FLock);
    if (!FLive)
      return WM_E_INVALIDSTATE;
    FPending.append(reinterpret_cast<const char*>(Bytes), Size);
    size_t Whole = FPending.size() - FPending.size() % FPacketSize;
    if (Whole == 0)
      return S_OK;
    for (const auto& Client : FClients)
      if (Client->Started && !Client->Closing)
        Queue(*Client, std::string_view(FPending).substr(0, Whole));
    FPending.erase(0, Whole);
  }
  Wake();
  return S_OK;
}

// The stream is over: clients get what is left and go.
HRESULT TNetworkSink::OnEndWriting() {
  {
    std::lock_guard Lock(FLock);
    for (const auto& Client : FClients) {
      if (Client->Started && !Client->Closing)
        Queue(*Client, FPending);
      Client->Closing = true;
    }
    FPending.clear();
    FLive = false;
  }
  Wake();
  return S_OK;
}

void TNetworkSink::Start(TClient& Client) {
  Client.Started = true;
  Queue(Client, OkResponse);
  Queue(Client, FHeader);
}

void TNetworkSink::Queue(TClient& Client, std::string_view Bytes) {
  if (Client.Out.size() - Client.Sent + Bytes.size() > MaxQueuedBytes) {
    Client.Closing = true;
    Client.Out.clear();
    Client.Sent = 0;
    return;
  }
  Client.Out.append(Bytes);
}

void TNetworkSink::Serve() {
  try {
    for (;;) {
      std::vector<TStatus> Statuses;
      bool Stop;
      {
        std::lock_guard Lock(FLock);
        Stop = FStop;
      }
      if (!Stop)
        ServeOnce(Statuses);
      if (Stop) {
        std::lock_guard Lock(FLock);
        for (const auto& Client : FClients)
          if (Client->Accepted)
            Statuses.push_back({WMT_CLIENT_DISCONNECTED, Client->Address});
        FClients.clear();
      }
      Report(Statuses);
      if (Stop)
        return;
    }
  } catch (...) {
    // Out of memory on the serving thread: stop serving rather than end the process.
    std::lock_guard Lock(FLock);
    FClients.clear();
  }
}

void TNetworkSink::ServeOnce(std::vector<TStatus>& Statuses) {
  std::vector<pollfd> Fds{{FListener.Get(), POLLIN, 0}, {FWake.Get(), POLLIN, 0}};
  {
    std::lock_guard Lock(FLock);
    for (const auto& Client : FClients) {
      short Events = POLLIN;
      if (Client->Sent < Client->Out.size())
        Events |= POLLOUT;
      Fds.push_back({Client->Socket.Get(), Events, 0});
    }
  }
  if (poll(Fds.data(), Fds.size(), -1) < 0)
    return;
  if (Fds[1].revents & POLLIN) {
    uint64_t Count;
    [[maybe_unused]] const ssize_t Got = read(FWake.Get(), &Count, sizeof Count);
  }
  std::lock_guard Lock(FLock);
  // Only the serving thread adds or removes clients, so the list still matches the poll's.
  for (size_t I = 0; I + 2 < Fds.size(); ++I) {
    TClient& Client = *FClients[I];
    const short Events = Fds[I + 2].revents;
    if (Events & (POLLIN | POLLHUP | POLLERR))
      Read(Client, Statuses);
    if (Client.Socket.Valid() && (Events & POLLOUT))
      Write(Client);
  }
  for (auto It = FClients.begin(); It != FClients.end();) {
    TClient& Client = **It;
    if (Client.Closing && Client.Socket.Valid() && Client.Sent >= Client.Out.size())
      Client.Socket.Reset();
    if (Client.Socket.Valid()) {
      ++It;
      continue;
    }
    if (Client.Accepted)
      Statuses.push_back({WMT_CLIENT_DISCONNECTED, Client.Address});
    It = FClients.erase(It);
  }
  if (Fds[0].revents & POLLIN)
    Accept();
}

void TNetworkSink::Accept() {
  sockaddr_in Address{};
  socklen_t Length = sizeof Address;
  TFileHandle Socket(accept4(FListener.Get(), reinterpret_cast<sockaddr*>(&Address), &Length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!Socket.Valid())
    return;
  auto Client = std::make_unique<TClient>();
  Client->Socket = std::move(Socket);
  Client->Address = {ntohl(Address.sin_addr.s_addr), ntohs(Address.sin_port)};
  FClients.push_back(std::move(Client));
}

// Takes the request line and headers; after them, reads only to learn that the client left.
void TNetworkSink::Read(TClient& Client, std::vector<TStatus>& Statuses) {
  char Buffer[4096];
  const ssize_t Got = recv(Client.Socket.Get(), Buffer, sizeof Buffer, 0);
  if (Got < 0 && (errno == EAGAIN || errno == EINTR))
    return;
  if (Got <= 0) {
    Client.Socket.Reset();
    return;
  }
  if (Client.Accepted || Client.Closing)
    return;
  Client.Request.append(Buffer, static_cast<size_t>(Got));
  if (Client.Request.find("\r\n\r\n") == std::string::npos &&
      Client.Request.find("\n\n") == std::string::npos) {
    if (Client.Request.size() > MaxRequestBytes)
      Client.Socket.Reset();
    return;
  }
  uint32_t Accepted = 0;
  for (const auto& Other : FClients)
    Accepted += Other->Accepted;
  if (Accepted >= FMaxClients) {
    Queue(Client, BusyResponse);
    Client.Closing = true;
    return;
  }
  Client.Accepted = true;
  Statuses.push_back({WMT_CLIENT_CONNECTED, Client.Address});
  if (FLive)
    Start(Client);
}

void TNetworkSink::Write(TClient& Client) {
  const ssize_t Sent = send(Client.Socket.Get(), Client.Out.data() + Client.Sent,
                            Client.Out.size() - Client.Sent, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (Sent < 0) {
    if (errno != EAGAIN && errno != EINTR)
      Client.Socket.Reset();
    return;
  }
  Client.Sent += static_cast<size_t>(Sent);
  if (Client.Sent == Client.Out.size()) {
    Client.Out.clear();
    Client.Sent = 0;
  }
}

// Outside the lock, so that a callback may take its time.
void TNetworkSink::Report(const std::vector<TStatus>& Statuses) {
  if (Statuses.empty())
    return;
  TWMPtr<IWMStatusCallback> Callback;
  void* Context;
  {
    std::lock_guard Lock(FLock);
    Callback = FCallback;
    Context = FContext;
  }
  if (!Callback)
    return;
  for (const TStatus& Status : Statuses)
    Callback->OnStatus(Status.Status, S_OK, WMT_TYPE_BINARY,
                       reinterpret_cast<const uint8_t*>(&Status.Address), Context);
}

} // namespace

HRESULT WMCreateWriterNetworkSink(IWMWriterNetworkSink** Sink) {
  if (!Sink)
    return WM_E_INVALIDARG;
  *Sink = new TNetworkSink;
  return S_OK;
}

} // namespace platform
