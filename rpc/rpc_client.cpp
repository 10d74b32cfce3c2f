#include "rpc/rpc_client.h"

#include <algorithm>

#include "app/http_endpoint.h"
#include "app/log.h"
#include "app/text_convert.h"
#include "rpc/json_scan.h"
#include "rpc/rpc_commands.h"
#include "rpc/secret_redaction.h"
#include "rpc/voice_tracking.h"

namespace {

constexpr int kPipeCount = 10;
// The handshake's answer, and every frame once its first byte is here,
// must be complete within this; Discord answers in milliseconds.
constexpr DWORD kFrameWaitMs = 2000;
// A healthy Discord takes a write at once; one that does not is hung, and
// the user-interface thread must not wait for it any longer than this.
constexpr DWORD kWriteWaitMs = 500;
// The events carry every change; the snapshot only resynchronises.
constexpr uint32_t kSnapshotIntervalMs = 1000;
constexpr DWORD kReadBufferBytes = 64 * 1024;
constexpr uint32_t kNeverDue = 0xFFFFFFFF;
constexpr size_t kSpeakingExcerptBytes = 800;
constexpr size_t kResponseExcerptBytes = 500;
constexpr size_t kTokenExcerptBytes = 200;
constexpr int kLoggedResponseLimit = 20;
constexpr size_t kCodeExcerptBytes = 10;

const char* const kNoCompleteFrame = "ERROR: No complete frame within 2000 ms, disconnecting";
const char* const kClosedMidFrame = "ERROR: Pipe closed while reading a frame, disconnecting";
const char* const kClosedBetweenFrames = "Pipe closed by Discord, disconnected";

std::wstring PipeName(int n) { return L"\\\\.\\pipe\\discord-ipc-" + std::to_wstring(n); }

bool IsVoiceEvent(const std::string& evt) {
  return evt == "VOICE_STATE_CREATE" || evt == "VOICE_STATE_UPDATE" || evt == "VOICE_STATE_DELETE" ||
         evt == "SPEAKING_START" || evt == "SPEAKING_STOP";
}

}  // namespace

struct RpcClient::WakeLink {
  std::mutex mutex;
  std::function<void()> wake;

  void Set(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(mutex);
    wake = std::move(fn);
  }
  void Wake() {
    std::lock_guard<std::mutex> lock(mutex);
    if (wake) wake();
  }
};

RpcClient::RpcClient() : readBuffer(kReadBufferBytes), wakeLink(std::make_shared<WakeLink>()) {
  readEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  syncEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!readEvent || !syncEvent ||
      !RegisterWaitForSingleObject(&readWait, readEvent, OnReadSignalled, this, INFINITE, WT_EXECUTEDEFAULT)) {
    readWait = nullptr;
    LogIpc("ERROR: Cannot set up pipe events (error " + std::to_string(GetLastError()) + ")");
  }
}

RpcClient::~RpcClient() {
  // Not Disconnect: the overlay that onVoiceUsers reaches may be gone.
  connected = false;
  ClosePipe();
  if (readWait) UnregisterWaitEx(readWait, INVALID_HANDLE_VALUE);  // waits for a running callback
  wakeLink->Set(nullptr);  // an abandoned token worker wakes no one
  if (syncEvent) CloseHandle(syncEvent);
  if (readEvent) CloseHandle(readEvent);
}

void CALLBACK RpcClient::OnReadSignalled(void* self, BOOLEAN) { static_cast<RpcClient*>(self)->wakeLink->Wake(); }

// ---- Transport ----

bool RpcClient::Connect(const std::wstring& id) {
  Disconnect();  // never leak an open pipe
  clientId = id;
  wakeLink->Set(onWake);
  LogIpc("Connecting to Discord...");
  for (int n = 0; n < kPipeCount && pipe == INVALID_HANDLE_VALUE; ++n)
    pipe = CreateFileW(PipeName(n).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    LogIpc("ERROR: Failed to open pipe");
    return false;
  }
  DWORD mode = PIPE_READMODE_BYTE | PIPE_WAIT;
  SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
  LogIpc("Pipe opened");
  if (!PerformHandshake(id)) {
    LogIpc("ERROR: Handshake failed");
    ClosePipe();
    return false;
  }
  LogIpc("Handshake successful");
  ++connectionSerial;
  if (!StartRead(readEvent)) {
    LogIpc(kClosedBetweenFrames);
    ClosePipe();
    return false;
  }
  // Bytes that came with the handshake's answer are Poll's to handle.
  if (!inbox.empty()) SetEvent(readEvent);
  SendAuthorize();
  if (pipe == INVALID_HANDLE_VALUE) return false;  // the write failed and said so
  connected = true;
  return true;
}

void RpcClient::Disconnect() {
  connected = false;
  ClosePipe();
  // Discord forgets a connection's subscriptions, and no SPEAKING_STOP will
  // come for the speakers it announced.
  currentChannelId.clear();
  std::lock_guard<std::mutex> lock(voiceUsersMutex);
  if (ClearSpeakingFlags(voiceUsers)) PublishVoiceUsers();
}

void RpcClient::LoseConnection(const std::string& why) {
  LogIpc(why);
  Disconnect();
}

void RpcClient::ClosePipe() {
  if (pipe != INVALID_HANDLE_VALUE) {
    if (readPending) {
      CancelIoEx(pipe, &readOverlapped);
      DWORD ignored = 0;
      GetOverlappedResult(pipe, &readOverlapped, &ignored, TRUE);
    }
    CloseHandle(pipe);
    pipe = INVALID_HANDLE_VALUE;
  }
  readPending = false;
  inbox.clear();
  // An AUTHORIZE dies with its pipe; the next connection must ask again.
  authorizing = false;
}

// A write that Discord does not take within kWriteWaitMs, or that fails,
// loses the connection; the reconnect rule takes over.
bool RpcClient::SendFrame(uint32_t opcode, const std::string& payload) {
  if (pipe == INVALID_HANDLE_VALUE) return false;
  const std::string buffer = EncodeRpcFrame(opcode, payload);
  const DWORD size = static_cast<DWORD>(buffer.size());
  OVERLAPPED write = {};
  write.hEvent = syncEvent;
  DWORD written = 0;
  bool done = WriteFile(pipe, buffer.data(), size, nullptr, &write) != FALSE;
  DWORD error = done ? 0 : GetLastError();
  if (error == ERROR_IO_PENDING) {
    const bool finished = WaitForSingleObject(syncEvent, kWriteWaitMs) == WAIT_OBJECT_0;
    if (!finished) CancelIoEx(pipe, &write);
    done = GetOverlappedResult(pipe, &write, &written, TRUE) != FALSE && written == size;
    error = done ? 0 : GetLastError();
    if (!done && !finished) {
      LoseConnection("ERROR: Write of " + std::to_string(size) + " bytes to Discord stalled for " +
                     std::to_string(kWriteWaitMs) + " ms, disconnecting");
      return false;
    }
  }
  if (!done) LoseConnection("ERROR: Write to Discord failed (error " + std::to_string(error) + "), disconnecting");
  return done;
}

bool RpcClient::SendCommand(const std::string& text) { return SendFrame(kOpFrame, text); }

bool RpcClient::StartRead(HANDLE event) {
  readOverlapped = {};
  readOverlapped.hEvent = event;
  if (!ReadFile(pipe, readBuffer.data(), kReadBufferBytes, nullptr, &readOverlapped) &&
      GetLastError() != ERROR_IO_PENDING)
    return false;
  readPending = true;
  return true;
}

// Moves the pending read's bytes to the inbox; wait after a cancel. False
// when the pipe broke.
bool RpcClient::FinishRead(bool wait) {
  DWORD got = 0;
  readPending = false;
  if (!GetOverlappedResult(pipe, &readOverlapped, &got, wait ? TRUE : FALSE))
    return GetLastError() == ERROR_OPERATION_ABORTED;
  if (inbox.empty() && got > 0) inboxSince = GetTickCount();
  inbox.append(readBuffer.data(), got);
  return true;
}

// No system call: Poll runs on every pass of the caller's loop.
bool RpcClient::ReadArrived() const { return readPending && HasOverlappedIoCompleted(&readOverlapped); }

// Takes in every completed read and keeps one pending; false when the
// pipe broke.
bool RpcClient::ReceiveNow() {
  while (ReadArrived())
    if (!FinishRead(false) || !StartRead(readEvent)) return false;
  return true;
}

// The inbox's next whole frame, passing over opcodes no Discord sends. A
// length beyond the bound loses the connection: the stream cannot be
// followed past it.
bool RpcClient::TakeFrame(RpcFrame& frame) {
  for (;;) {
    const RpcFrameCut cut = CutRpcFrame(inbox, frame);
    if (cut == RpcFrameCut::TooLarge) {
      LoseConnection("ERROR: Frame payload too large (" + std::to_string(DecodeRpcFrameHeader(inbox.data()).length) +
                     " bytes), disconnecting");
      return false;
    }
    if (cut == RpcFrameCut::Incomplete) return false;
    inboxSince = GetTickCount();  // the rest began arriving by now at the latest
    if (frame.opcode <= kOpPong) return true;
    LogIpc("Unknown frame opcode " + std::to_string(frame.opcode) + " (" + std::to_string(frame.payload.size()) +
           " bytes), ignored");
  }
}

bool RpcClient::FrameOverdue(uint32_t now) const { return !inbox.empty() && now - inboxSince >= kFrameWaitMs; }

bool RpcClient::PerformHandshake(const std::wstring& id) {
  if (!SendFrame(kOpHandshake, HandshakeText(WideToBytes(id)))) return false;
  RpcFrame answer;
  if (!AwaitHandshakeAnswer(answer)) return false;
  if (!ContainsText(answer.payload, "\"evt\":\"READY\"") && !ContainsText(answer.payload, "\"cmd\":\"DISPATCH\""))
    return false;
  ReportSelfId(answer.payload);
  return true;
}

void RpcClient::ReportSelfId(const std::string& payload) {
  std::string id = ExtractJsonValue(ExtractJsonObject(payload, "\"user\""), "id");
  if (!id.empty() && onSelfId) onSelfId(Utf8ToWide(id));
}

// The one wait on Discord's side, bounded like any frame.
bool RpcClient::AwaitHandshakeAnswer(RpcFrame& answer) {
  const DWORD start = GetTickCount();
  while (!TakeFrame(answer)) {
    if (pipe == INVALID_HANDLE_VALUE) return false;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= kFrameWaitMs) {
      LogIpc(kNoCompleteFrame);
      return false;
    }
    if (!StartRead(syncEvent)) {
      LogIpc(kClosedMidFrame);
      return false;
    }
    const bool arrived = WaitForSingleObject(syncEvent, kFrameWaitMs - elapsed) == WAIT_OBJECT_0;
    if (!arrived) CancelIoEx(pipe, &readOverlapped);
    if (!FinishRead(!arrived)) {
      LogIpc(kClosedMidFrame);
      return false;
    }
  }
  return true;
}

void RpcClient::Poll() {
  if (!connected) return;
  PickUpTokenResponse();
  if (!connected) return;
  // Frames that came before a break are still Discord's last words.
  const bool broken = !ReceiveNow();
  RpcFrame frame;
  while (connected && TakeFrame(frame)) HandleFrame(frame);
  if (!connected) return;
  if (broken) return LoseConnection(inbox.empty() ? kClosedBetweenFrames : kClosedMidFrame);
  const uint32_t now = GetTickCount();
  if (FrameOverdue(now)) return LoseConnection(kNoCompleteFrame);
  if (authenticated && now - lastSnapshotRequest >= kSnapshotIntervalMs) RequestSelectedVoiceChannel(false);
}

uint32_t RpcClient::MsUntilPollDue(uint32_t now) const {
  if (!connected) return kNeverDue;
  if (ReadArrived()) return 0;
  uint32_t due = kNeverDue;
  auto until = [&](uint32_t since, uint32_t interval) {
    const uint32_t elapsed = now - since;
    due = std::min(due, elapsed >= interval ? 0 : interval - elapsed);
  };
  if (authenticated) until(lastSnapshotRequest, kSnapshotIntervalMs);
  if (!inbox.empty()) until(inboxSince, kFrameWaitMs);
  return due;
}

void RpcClient::HandleFrame(const RpcFrame& frame) {
  if (frame.opcode == kOpClose) {
    LogIpc("Received CLOSE frame");
    Disconnect();
    return;
  }
  if (frame.opcode == kOpPing) {
    SendFrame(kOpPong, frame.payload);
    return;
  }
  if (frame.opcode != kOpFrame) return;

  const std::string& payload = frame.payload;
  if (payload.size() >= 8 && ContainsText(payload, "SPEAKING"))
    LogExcerpt("SPEAKING Response: ", payload, kSpeakingExcerptBytes);
  if (loggedResponses < kLoggedResponseLimit) {
    LogExcerpt("Response: ", payload, kResponseExcerptBytes);
    ++loggedResponses;
  }
  if (!LooksLikeJsonObject(payload)) {
    LogIpc("ERROR: Frame payload is not JSON (" + std::to_string(payload.size()) + " bytes), ignored");
    return;
  }

  std::string cmd = ExtractJsonValue(payload, "cmd");
  if (cmd == "AUTHORIZE") return HandleAuthorizeResponse(payload);
  if (cmd == "AUTHENTICATE") return HandleAuthenticateResponse(payload);
  if (cmd == "GET_SELECTED_VOICE_CHANNEL") return HandleSelectedVoiceChannel(payload);
  if (cmd == "SUBSCRIBE") return LogIpc("SUBSCRIBE response received, skipping event processing");

  std::string evt = ExtractJsonValue(payload, "evt");
  if (!evt.empty() && evt != "null") LogIpc("Event received: " + evt);
  if (IsVoiceEvent(evt)) {
    HandleVoiceEvent(payload);
  } else if (evt == "VOICE_CHANNEL_SELECT") {
    LogIpc("Voice channel selection changed, requesting update...");
    RequestSelectedVoiceChannel(true);
  } else if (evt == "MESSAGE_CREATE") {
    HandleMessageCreate(payload);
  }
}

void RpcClient::LogIpc(const std::string& message) { WriteLogLine(L"[IPC] " + BytesToWide(message)); }

void RpcClient::LogExcerpt(const char* label, const std::string& text, size_t maxBytes) {
  LogIpc(label + RedactTokenValues(text.substr(0, maxBytes)));
}

// ---- Authorization ----

void RpcClient::SendAuthorize() {
  if (authorizing.exchange(true)) return;
  std::string text = AuthorizeText(WideToBytes(clientId), NextNonce());
  LogIpc("Sending AUTHORIZE request...");
  SendCommand(text);
}

void RpcClient::HandleAuthorizeResponse(const std::string& payload) {
  authorizing = false;
  if (ExtractJsonValue(payload, "evt") == "ERROR") {
    LogIpc("AUTHORIZE error: " + ExtractJsonValue(payload, "message"));
    return;
  }
  std::string code = ExtractJsonValue(payload, "code");
  if (code.empty()) {
    LogIpc("No access_token or code in AUTHORIZE response");
    return;
  }
  LogIpc("Got authorization code: " + code.substr(0, kCodeExcerptBytes) + "...");
  ExchangeCodeForToken(code);
}

void RpcClient::ExchangeCodeForToken(const std::string& code) {
  if (clientSecret.empty()) {
    LogIpc("ERROR: client_secret not set in config.json");
    LogIpc("Please set your Discord app's client_secret to enable voice channel access");
    return;
  }
  LogIpc("Exchanging code for access token...");
  HttpRequestSpec request;
  request.method = L"POST";
  request.path = L"/api/oauth2/token";
  request.headers = L"Content-Type: application/x-www-form-urlencoded";
  request.body = TokenRequestBody(WideToBytes(clientId), WideToBytes(clientSecret), code);
  request.maxBodyBytes = 64 * 1024;
  HttpEndpoint endpoint = ResolveHttpEndpoint("VOXMERE_API_BASE", kDiscordApiHost);
  if (!tokenExchange.Start(endpoint, request, connectionSerial, [link = wakeLink] { link->Wake(); }))
    LogIpc("ERROR: Could not start the token exchange thread");
}

void RpcClient::PickUpTokenResponse() {
  auto result = tokenExchange.TakeResult();
  if (!result) return;
  if (result->tag != connectionSerial) {
    LogIpc("Token exchange finished after its connection was lost; result dropped");
    return;
  }
  FinishTokenExchange(result->http);
}

void RpcClient::FinishTokenExchange(const HttpResult& http) {
  switch (http.stage) {
    case HttpStage::Open: return LogIpc("ERROR: WinHttpOpen failed");
    case HttpStage::Connect: return LogIpc("ERROR: WinHttpConnect failed");
    case HttpStage::OpenRequest: return LogIpc("ERROR: WinHttpOpenRequest failed");
    case HttpStage::Send: return LogIpc("ERROR: WinHttpSendRequest failed: " + std::to_string(http.error));
    case HttpStage::Receive: return LogIpc("ERROR: WinHttpReceiveResponse failed");
    case HttpStage::BodyTooLarge: return LogIpc("ERROR: Token response too large");
    case HttpStage::Done: break;
  }
  LogExcerpt("Token response: ", http.body, kTokenExcerptBytes);
  std::string token = ExtractJsonValue(http.body, "access_token");
  if (token.empty()) {
    LogIpc("Token exchange failed: " + ExtractJsonValue(http.body, "error") + " - " +
           ExtractJsonValue(http.body, "error_description"));
    return;
  }
  LogIpc("Got access token!");
  accessToken = token;
  SendAuthenticate(token);
}

void RpcClient::SendAuthenticate(const std::string& token) {
  std::string text = AuthenticateText(token, NextNonce());
  LogIpc("Sending AUTHENTICATE request...");
  SendCommand(text);
}

void RpcClient::HandleAuthenticateResponse(const std::string& payload) {
  if (ExtractJsonValue(payload, "evt") == "ERROR") {
    LogIpc("AUTHENTICATE error: " + ExtractJsonValue(payload, "message"));
    return;
  }
  if (ExtractJsonValue(payload, "cmd") != "AUTHENTICATE" || !ContainsText(payload, "\"user\"")) return;
  authenticated = true;
  LogIpc("Authentication successful!");
  ReportSelfId(payload);
  SubscribeVoiceChannelSelect();
  RequestSelectedVoiceChannel(true);
}

// ---- Voice tracking ----

void RpcClient::SubscribeVoiceChannelSelect() {
  LogIpc("Subscribing to voice events...");
  SendCommand(SubscribeVoiceChannelSelectText(NextNonce()));
  LogIpc("Subscribed to VOICE_CHANNEL_SELECT");
}

void RpcClient::RequestSelectedVoiceChannel(bool reportInFull) {
  reportNextSnapshot = reportNextSnapshot || reportInFull;
  std::string text = GetSelectedVoiceChannelText(NextNonce());
  lastSnapshotRequest = GetTickCount();
  LogIpc("Requesting voice channel...");
  SendCommand(text);
}

void RpcClient::SubscribeChannelEvents(const std::string& channelId) {
  LogIpc("Subscribing to channel events for: " + channelId);
  for (const char* evt : kChannelEvents) {
    SendCommand(SubscribeChannelEventText(evt, channelId, NextNonce()));
    if (std::string(evt).rfind("SPEAKING_", 0) == 0) LogIpc(std::string("Subscribed to ") + evt + " for channel");
  }
}

// Carries the speaking flags over. The periodic snapshot only resynchronises:
// one that repeats the channel and members already known, on this
// connection, changes and logs nothing.
bool RpcClient::RepeatsKnownChannel(VoiceSnapshot& snapshot) {
  std::lock_guard<std::mutex> lock(voiceUsersMutex);
  CarrySpeakingFlags(voiceUsers, snapshot.users);
  const bool repeat = !reportNextSnapshot && snapshot.channelId == currentChannelId && snapshot.users == voiceUsers;
  reportNextSnapshot = false;
  return repeat;
}

void RpcClient::HandleSelectedVoiceChannel(const std::string& payload) {
  VoiceSnapshot snapshot = ParseVoiceSnapshot(payload);
  switch (snapshot.status) {
    case SnapshotStatus::ErrorCode: return LogIpc("Voice channel error code: " + snapshot.errorCode);
    case SnapshotStatus::NoData: return LogIpc("No data in voice channel response");
    case SnapshotStatus::NotInChannel: {
      if (RepeatsKnownChannel(snapshot)) return;
      LogIpc("Not in a voice channel");
      std::lock_guard<std::mutex> lock(voiceUsersMutex);
      voiceUsers.clear();
      currentChannelId.clear();
      PublishVoiceUsers();
      return;
    }
    default: break;
  }
  if (!snapshot.channelId.empty() && snapshot.channelId != currentChannelId) {
    LogIpc("Joined voice channel: " + snapshot.channelId);
    currentChannelId = snapshot.channelId;
    SubscribeChannelEvents(snapshot.channelId);
  }
  if (snapshot.status == SnapshotStatus::NoVoiceStates) return LogIpc("No voice_states in response");
  if (snapshot.status == SnapshotStatus::NoMemberArray) return;
  if (RepeatsKnownChannel(snapshot)) return;
  for (const VoiceUser& user : snapshot.users) LogIpc(AddedUserMessage(user));
  LogIpc("Found " + std::to_string(snapshot.users.size()) + " users in voice channel");
  std::lock_guard<std::mutex> lock(voiceUsersMutex);
  voiceUsers = std::move(snapshot.users);
  PublishVoiceUsers();
}

void RpcClient::HandleVoiceEvent(const std::string& payload) {
  std::lock_guard<std::mutex> lock(voiceUsersMutex);
  if (ApplyVoiceEvent(payload, voiceUsers, [this](const std::string& line) { LogIpc(line); }))
    PublishVoiceUsers();
}

void RpcClient::HandleMessageCreate(const std::string& payload) {
  auto message = ParseMessageCreate(payload);
  if (message && onMessage) onMessage(Utf8ToWide(message->author), Utf8ToWide(message->text));
}

// Caller holds voiceUsersMutex.
void RpcClient::PublishVoiceUsers() {
  if (onVoiceUsers) onVoiceUsers(voiceUsers);
}
