#include "notify/browser_source_server.h"

#include <system_error>
#include <vector>

#include "app/log.h"
#include "app/text_convert.h"
#include "notify/browser_source.h"
#include "notify/browser_source_page.h"

namespace {

constexpr DWORD kRequestWaitMs = 2000;
constexpr size_t kMaxRequestBytes = 8192;
constexpr DWORD kSendWaitMs = 2000;
constexpr size_t kCardsKept = 5;

void Log(const std::string& message) { WriteLogLine(L"[Browser source] " + Utf8ToWide(message)); }

// Whole, or false. The socket may be non-blocking (an event stream's): a full
// send buffer is waited for, bounded.
bool SendAll(SOCKET s, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK) return false;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait = {static_cast<long>(kSendWaitMs / 1000), 0};
    if (select(0, nullptr, &set, nullptr, &wait) != 1) return false;
  }
  return true;
}

// The request's head, read with a bounded wait; empty when it never ended.
std::string ReadHead(SOCKET s) {
  DWORD timeout = kRequestWaitMs;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  std::string head;
  char chunk[2048];
  while (head.size() < kMaxRequestBytes && head.find("\r\n\r\n") == std::string::npos) {
    const int n = recv(s, chunk, sizeof(chunk), 0);
    if (n <= 0) return {};
    head.append(chunk, static_cast<size_t>(n));
  }
  return head;
}

SOCKET OpenListener(uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  // Nobody else may bind the same port beside us and take the pages' requests.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof(exclusive));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR ||
      listen(s, SOMAXCONN) == SOCKET_ERROR) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

}  // namespace

BrowserSourceServer::~BrowserSourceServer() { Stop(); }

bool BrowserSourceServer::Start(uint16_t firstPort) {
  if (running_) return true;
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    Log("WSAStartup failed");
    return false;
  }
  SOCKET listener = INVALID_SOCKET;
  uint16_t port = firstPort;
  for (int i = 0; i < kBrowserSourcePortTries && listener == INVALID_SOCKET && firstPort + i <= 65535; ++i) {
    port = static_cast<uint16_t>(firstPort + i);
    listener = OpenListener(port);
    if (listener == INVALID_SOCKET)
      Log("Port " + std::to_string(port) + " is taken (error " + std::to_string(WSAGetLastError()) + ")");
  }
  if (listener == INVALID_SOCKET) {
    Log("No free port from " + std::to_string(firstPort) + " on: the pages are off");
    WSACleanup();
    return false;
  }
  stopEvent_ = EventHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  running_ = true;
  port_ = port;
  try {
    listenThread_ = std::thread(&BrowserSourceServer::ListenLoop, this, listener);
  } catch (const std::system_error&) {
    Log("The listener thread could not start");
    closesocket(listener);
    running_ = false;
    port_ = 0;
    WSACleanup();
    return false;
  }
  Log("Serving http://127.0.0.1:" + std::to_string(port) + "/voice and /cards" +
      (port != firstPort ? " (port " + std::to_string(firstPort) + " was taken)" : ""));
  return true;
}

void BrowserSourceServer::Stop() {
  if (!running_.exchange(false)) return;
  SetEvent(stopEvent_.Get());
  if (listenThread_.joinable()) listenThread_.join();
  {
    // Wakes connection threads blocked reading a request; event streams wake
    // on the stop event.
    std::unique_lock<std::mutex> lock(mutex_);
    for (SOCKET s : clients_) shutdown(s, SD_BOTH);
    clientsDone_.wait(lock, [this] { return clients_.empty(); });
  }
  port_ = 0;
  stopEvent_.Reset();
  WSACleanup();
  Log("Stopped");
}

void BrowserSourceServer::ListenLoop(SOCKET listener) {
  SocketEvent pending(WSACreateEvent());
  if (!pending || WSAEventSelect(listener, pending.Get(), FD_ACCEPT) != 0) {
    Log("Accept event unavailable (" + std::to_string(WSAGetLastError()) + "): the pages are off");
    closesocket(listener);
    return;
  }
  const HANDLE waits[2] = {stopEvent_.Get(), pending.Get()};
  while (running_) {
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woke != WAIT_OBJECT_0 + 1) break;
    WSAResetEvent(pending.Get());
    for (SOCKET client; (client = accept(listener, nullptr, nullptr)) != INVALID_SOCKET;) Accept(client);
  }
  closesocket(listener);
}

void BrowserSourceServer::Accept(SOCKET client) {
  // It inherits the listener's event selection and non-blocking mode; the
  // request is read blocking, with a time-out.
  WSAEventSelect(client, nullptr, 0);
  u_long blocking = 0;
  ioctlsocket(client, FIONBIO, &blocking);
  std::lock_guard<std::mutex> lock(mutex_);
  if (clients_.size() >= kMaxBrowserClients) {
    Log("Connection refused: " + std::to_string(kMaxBrowserClients) + " already open");
    SendAll(client, BuildHttpResponse(503, "text/plain", "busy\n"));
    closesocket(client);
    return;
  }
  clients_.insert(client);
  try {
    std::thread(&BrowserSourceServer::HandleClient, this, client).detach();
  } catch (const std::system_error&) {
    Log("A connection thread could not start");
    clients_.erase(client);
    closesocket(client);
  }
}

void BrowserSourceServer::Release(SOCKET client) {
  // Closed under the lock, so Stop never shuts down a reused socket number.
  std::lock_guard<std::mutex> lock(mutex_);
  clients_.erase(client);
  closesocket(client);
  clientsDone_.notify_all();
}

void BrowserSourceServer::HandleClient(SOCKET client) {
  const std::string head = ReadHead(client);
  if (!head.empty()) Answer(client, head);
  shutdown(client, SD_SEND);
  Release(client);
}

void BrowserSourceServer::Answer(SOCKET client, const std::string& text) {
  HttpRequestHead head;
  std::string reason;
  if (!ParseHttpRequestHead(text, head, &reason)) {
    Log("Malformed request refused: " + reason);
    SendAll(client, BuildHttpResponse(400, "text/plain", "bad request\n"));
    return;
  }
  const BrowserDecision decision = DecideBrowserRequest(head, port_.load());
  switch (decision.route) {
    case BrowserRoute::Refused:
      Log("Refused (" + std::to_string(decision.status) + "): " + decision.reason);
      SendAll(client, BuildHttpResponse(decision.status, "text/plain", "refused\n"));
      return;
    case BrowserRoute::VoicePage:
    case BrowserRoute::CardsPage:
      SendAll(client, BuildHttpResponse(200, "text/html; charset=utf-8", kBrowserSourcePage, "Cache-Control: no-store\r\n"));
      return;
    case BrowserRoute::Avatar: {
      std::shared_ptr<const std::string> bytes;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = avatars_.find(decision.avatarKey);
        if (found != avatars_.end()) bytes = found->second;
      }
      if (!bytes) {
        SendAll(client, BuildHttpResponse(404, "text/plain", "no picture\n"));
        return;
      }
      // Not kept by the browser: a cached copy would answer another site's probe
      // without asking here; the policy refuses it to other origins even so.
      SendAll(client, BuildHttpResponse(200, ImageContentType(*bytes), *bytes,
                                        "Cache-Control: no-store\r\nCross-Origin-Resource-Policy: same-origin\r\n"));
      return;
    }
    case BrowserRoute::VoiceEvents:
    case BrowserRoute::CardsEvents:
      RunEventStream(client, decision.route == BrowserRoute::VoiceEvents);
      return;
  }
}

void BrowserSourceServer::RunEventStream(SOCKET client, bool voice) {
  if (!SendAll(client, BuildEventStreamHead())) return;
  // Set at first: the current members go out at once.
  EventHandle news(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  SocketEvent readable(WSACreateEvent());
  if (!news || !readable || WSAEventSelect(client, readable.Get(), FD_READ | FD_CLOSE) != 0) {
    Log("Event stream unavailable: " + std::to_string(WSAGetLastError()));
    return;
  }
  Stream stream{voice, news.Get()};
  uint64_t sentVoice = 0, sentCard = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    streams_.insert(&stream);
    sentCard = cardSequence_;  // only cards that come after the page opened
    // Nobody kept the members up to date while no page listened.
    if (voice && voiceStreams_++ == 0) voiceJson_.clear();
  }
  if (voice && onVoiceStreamOpened) onVoiceStreamOpened();
  const HANDLE waits[3] = {stopEvent_.Get(), readable.Get(), news.Get()};
  while (running_) {
    const DWORD woke = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
    // The page sends nothing after its request: a read that ends or fails is
    // the page going away.
    WSAResetEvent(readable.Get());
    char drain[256];
    const int n = recv(client, drain, sizeof(drain), 0);
    if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) break;
    ResetEvent(news.Get());  // before the look, so a later publish sets it again
    const std::string events = TakeNews(voice, &sentVoice, &sentCard);
    if (!events.empty() && !SendAll(client, events)) break;
  }
  if (voice) --voiceStreams_;
  std::lock_guard<std::mutex> lock(mutex_);
  streams_.erase(&stream);
}

std::string BrowserSourceServer::TakeNews(bool voice, uint64_t* sentVoice, uint64_t* sentCard) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string events;
  if (voice) {
    if (*sentVoice != voiceVersion_ && !voiceJson_.empty()) events = FormatServerSentEvent("voice", voiceJson_);
    *sentVoice = voiceVersion_;
    return events;
  }
  for (const auto& [sequence, json] : cards_)
    if (sequence > *sentCard) events += FormatServerSentEvent("card", json);
  *sentCard = cardSequence_;
  return events;
}

void BrowserSourceServer::WakeStreams() {
  for (Stream* stream : streams_) SetEvent(stream->news);
}

void BrowserSourceServer::PublishVoice(const std::string& stateJson) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stateJson == voiceJson_) return;
  voiceJson_ = stateJson;
  ++voiceVersion_;
  WakeStreams();
}

void BrowserSourceServer::PublishCard(const std::string& cardJson) {
  std::lock_guard<std::mutex> lock(mutex_);
  cards_.emplace_back(++cardSequence_, cardJson);
  while (cards_.size() > kCardsKept) cards_.pop_front();
  WakeStreams();
}

void BrowserSourceServer::OfferAvatar(const std::string& key, std::shared_ptr<const std::string> bytes) {
  if (!bytes) return;
  std::lock_guard<std::mutex> lock(mutex_);
  avatars_.emplace(key, std::move(bytes));
}

bool BrowserSourceServer::HasAvatar(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return avatars_.count(key) != 0;
}
