#include "rpc/rpc_client.h"

#include <algorithm>

#include "app/backoff.h"
#include "app/http_endpoint.h"
#include "app/log.h"
#include "app/text_convert.h"
#include "rpc/rpc_commands.h"
#include "rpc/rpc_messages.h"
#include "rpc/secret_redaction.h"
#include "rpc/voice_tracking.h"

namespace {

constexpr int kPipeCount = 10;
// Every frame, once its first byte is here, must be complete within this;
// Discord writes a frame at once. (READY itself may take 30 s to come.)
constexpr DWORD kFrameWaitMs = 2000;
// A healthy Discord takes a write at once; one that does not is hung, and
// the user-interface thread must not wait for it any longer than this.
constexpr DWORD kWriteWaitMs = 500;
// The events carry every change; the snapshot only resynchronises, in
// server channels only: for a call Discord fetches the channel's messages
// from its web API at every snapshot.
constexpr uint32_t kResyncIntervalMs = 60000;
constexpr DWORD kReadBufferBytes = 64 * 1024;
constexpr uint32_t kNeverDue = 0xFFFFFFFF;
// After the token endpoint could not be reached: 5 s, doubling up to 5 minutes.
constexpr uint32_t kFirstReauthorizeMs = 5000;
constexpr uint32_t kMostReauthorizeMs = 5 * 60 * 1000;
constexpr size_t kSpeakingExcerptBytes = 800;
constexpr size_t kResponseExcerptBytes = 500;
constexpr size_t kTokenExcerptBytes = 200;
constexpr int kLoggedResponseLimit = 20;
constexpr size_t kCodeExcerptBytes = 10;

const char* const kNoCompleteFrame = "ERROR: No complete frame within 2000 ms, disconnecting";
const char* const kClosedMidFrame = "ERROR: Pipe closed while reading a frame, disconnecting";
const char* const kClosedBetweenFrames = "Pipe closed by Discord, disconnected";
constexpr int64_t kInvalidClientId = 4000;
constexpr int64_t kInvalidToken = 4009;

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

// A connection waiting for Discord (READY, the user's consent, the token)
// is kept: a second handshake would queue behind it, and a second AUTHORIZE
// would open a second dialog.
bool RpcClient::StillOnItsWay() const {
  return connected &&
         (awaitingReady || state == RpcState::WaitingForConsent || state == RpcState::Authenticating);
}

bool RpcClient::Connect(const std::wstring& id) {
  if (StillOnItsWay() && id == clientId) {
    LogIpc("Connection to Discord still on its way; no second one opened");
    return true;
  }
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
  ++connectionSerial;
  if (!SendFrame(kOpHandshake, HandshakeText(WideToUtf8(id))) || !StartRead()) {
    LogIpc("ERROR: Handshake failed");
    ClosePipe();
    return false;
  }
  connected = true;
  awaitingReady = true;
  if (state != RpcState::ClientIdRejected) SetState(RpcState::WaitingForReady);
  LogIpc("Waiting for Discord's READY...");
  return true;
}

void RpcClient::Disconnect() {
  connected = false;
  authenticated = false;
  ClosePipe();
  // Discord forgets a connection's subscriptions, and no SPEAKING_STOP will
  // come for the speakers it announced.
  currentChannelId.clear();
  currentChannelType = -1;
  subscribedChannelId.clear();
  if (state != RpcState::ClientIdRejected) SetState(RpcState::Disconnected);
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
  awaitingReady = false;
  // An AUTHORIZE dies with its pipe; the next connection must ask again.
  authorizing = false;
  authorizationHeld = false;
  reauthorizeWaiting = false;
}

void RpcClient::SetState(RpcState next) {
  if (state == next) return;
  state = next;
  if (onStateChanged) onStateChanged(next);
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

bool RpcClient::StartRead() {
  readOverlapped = {};
  readOverlapped.hEvent = readEvent;
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
    if (!FinishRead(false) || !StartRead()) return false;
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

void RpcClient::ReportSelfId(const Json& message) {
  std::string id = ReadUserId(message);
  if (!id.empty() && onSelfId) onSelfId(id);
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
  uint32_t ignored = 0;
  if (ResyncDue(now, &ignored)) RequestSelectedVoiceChannel(false);
  if (ReauthorizeDue(now, &ignored)) {
    reauthorizeWaiting = false;
    StartAuthorization();
  }
}

uint32_t RpcClient::MsUntilPollDue(uint32_t now) const {
  if (!connected) return kNeverDue;
  if (ReadArrived()) return 0;
  uint32_t due = kNeverDue, reauthorize = kNeverDue;
  ResyncDue(now, &due);
  ReauthorizeDue(now, &reauthorize);
  due = std::min(due, reauthorize);
  if (!inbox.empty()) {
    const uint32_t elapsed = now - inboxSince;
    due = std::min<uint32_t>(due, elapsed >= kFrameWaitMs ? 0 : kFrameWaitMs - elapsed);
  }
  return due;
}

void RpcClient::HandleFrame(const RpcFrame& frame) {
  if (frame.opcode == kOpClose) return HandleClose(frame.payload);
  if (frame.opcode == kOpPing) {
    SendFrame(kOpPong, frame.payload);
    return;
  }
  if (frame.opcode != kOpFrame) return;

  const std::string& payload = frame.payload;
  // debug.log is shared with us: a chat message's text never goes there.
  if (payload.find("\"MESSAGE_CREATE\"") != std::string::npos) {
    LogIpc("Response: MESSAGE_CREATE, " + std::to_string(payload.size()) + " bytes");
  } else {
    if (payload.size() >= 8 && payload.find("SPEAKING") != std::string::npos)
      LogExcerpt("SPEAKING Response: ", payload, kSpeakingExcerptBytes);
    if (loggedResponses < kLoggedResponseLimit) {
      LogExcerpt("Response: ", payload, kResponseExcerptBytes);
      ++loggedResponses;
    }
  }
  auto message = ParseJson(payload);
  if (!message || !message->is_object()) {
    LogIpc("ERROR: Frame payload is not JSON (" + std::to_string(payload.size()) + " bytes), ignored");
    return;
  }
  HandleMessage(*message);
}

// Discord says why it ends the connection; 4000 means it does not know the
// client id, which only the user can mend.
void RpcClient::HandleClose(const std::string& payload) {
  const RpcError reason = ReadCloseReason(payload);
  LogIpc("Received CLOSE frame" +
         (reason.code || !reason.message.empty() ? ": " + std::to_string(reason.code) + " " + reason.message : ""));
  Disconnect();
  if (reason.code == kInvalidClientId) {
    LogIpc("ERROR: Discord does not know the client_id in config.json; set your Discord application's Client ID");
    SetState(RpcState::ClientIdRejected);
  }
}

void RpcClient::HandleMessage(const Json& message) {
  if (awaitingReady) return HandleReady(message);
  const std::string cmd = JsonString(message, "cmd");
  if (cmd == "AUTHORIZE") return HandleAuthorizeResponse(message);
  if (cmd == "AUTHENTICATE") return HandleAuthenticateResponse(message);
  if (cmd == "GET_SELECTED_VOICE_CHANNEL") return HandleSelectedVoiceChannel(message);
  if (cmd == "SUBSCRIBE" || cmd == "UNSUBSCRIBE")
    return LogIpc(cmd + " response received, skipping event processing");

  const std::string evt = JsonString(message, "evt");
  if (!evt.empty()) LogIpc("Event received: " + evt);
  if (IsVoiceEvent(evt)) {
    HandleVoiceEvent(message);
  } else if (evt == "VOICE_CHANNEL_SELECT") {
    LogIpc("Voice channel selection changed, requesting update...");
    const Json* data = JsonMember(message, "data");
    FollowChannel(data ? JsonString(*data, "channel_id") : "");
    currentChannelId.clear();  // events wait for the new channel's snapshot
    RequestSelectedVoiceChannel(true);
  } else if (evt == "MESSAGE_CREATE") {
    HandleMessageCreate(message);
  }
}

// The handshake's answer, however long Discord held it back.
void RpcClient::HandleReady(const Json& message) {
  if (JsonString(message, "evt") != "READY" && JsonString(message, "cmd") != "DISPATCH") {
    LogIpc("ERROR: Handshake failed");
    Disconnect();
    return;
  }
  awaitingReady = false;
  LogIpc("Handshake successful");
  ReportSelfId(message);
  StartAuthorization();
}

void RpcClient::LogIpc(const std::string& message) {
  WriteLogLine(L"[IPC] " + Utf8ToWide(RedactSecrets(message, {accessToken, WideToUtf8(clientSecret)})));
}

void RpcClient::LogExcerpt(const char* label, const std::string& text, size_t maxBytes) {
  LogIpc(label + text.substr(0, maxBytes));
}

// ---- Authorization ----

// The one place that decides how a connection gets authorized: with the
// token kept from an earlier connection when there is one (no code, no
// dialog), else by asking Discord for a code.
void RpcClient::StartAuthorization() {
  tokenFromEarlierConnection = !accessToken.empty();
  if (tokenFromEarlierConnection) {
    SetState(RpcState::Authenticating);
    SendAuthenticate(accessToken);
    return;
  }
  if (!authorizeAllowed) {
    if (!authorizationHeld) LogIpc("Authorization held back: the plugin's voice feed is live or awaited");
    authorizationHeld = true;
    return;
  }
  authorizationHeld = false;
  SendAuthorize();
}

void RpcClient::AllowAuthorization(bool allowed) {
  authorizeAllowed = allowed;
  if (allowed && authorizationHeld && connected && !awaitingReady) {
    LogIpc("Authorization no longer held back");
    StartAuthorization();
  }
}

void RpcClient::SendAuthorize() {
  if (authorizing.exchange(true)) return;
  SetState(RpcState::WaitingForConsent);
  std::string text = AuthorizeText(WideToUtf8(clientId), NextNonce());
  LogIpc("Sending AUTHORIZE request...");
  SendCommand(text);
}

// Every failure on the way to AUTHENTICATE that waiting will not mend ends
// here: its line, and the state the tray shows until the user acts
// (Reconnect, config.json).
void RpcClient::FailAuthorization(const std::string& why) {
  LogIpc(why);
  SetState(RpcState::NotAuthorized);
}

void RpcClient::HandleAuthorizeResponse(const Json& message) {
  authorizing = false;
  if (auto error = ReadRpcError(message)) {
    LogIpc("AUTHORIZE error: " + error->message);
    if (error->message.find("invalid_scope") != std::string::npos) {
      // Discord grants rpc.voice.read only to applications it has approved;
      // asking again changes nothing.
      LogIpc("ERROR: invalid_scope: Discord has not approved this application for rpc.voice.read; "
             "the Tallybell plugin is the way to show your voice channel");
      return SetState(RpcState::ScopeRejected);
    }
    if (error->message.find("redirect_uri") == std::string::npos) return SetState(RpcState::NotAuthorized);
    return FailAuthorization("ERROR: The Discord application needs a Redirect URI: add one (for example "
                             "http://localhost) on its OAuth2 page in the Developer Portal, then choose Reconnect");
  }
  const Json* data = JsonMember(message, "data");
  std::string code = data ? JsonString(*data, "code") : "";
  if (code.empty()) return FailAuthorization("No access_token or code in AUTHORIZE response");
  LogIpc("Got authorization code: " + code.substr(0, kCodeExcerptBytes) + "...");
  ExchangeCodeForToken(code);
}

void RpcClient::ExchangeCodeForToken(const std::string& code) {
  if (clientSecret.empty()) {
    LogIpc("ERROR: client_secret not set in config.json");
    return FailAuthorization("Please set your Discord app's client_secret to enable voice channel access");
  }
  LogIpc("Exchanging code for access token...");
  HttpRequestSpec request;
  request.method = L"POST";
  request.path = L"/api/oauth2/token";
  request.headers = L"Content-Type: application/x-www-form-urlencoded";
  request.body = TokenRequestBody(WideToUtf8(clientId), WideToUtf8(clientSecret), code);
  request.maxBodyBytes = 64 * 1024;
  HttpEndpoint endpoint = ResolveHttpEndpoint("VOXMERE_API_BASE", kDiscordApiHost);
  if (!tokenExchange.Start(endpoint, request, connectionSerial, [link = wakeLink] { link->Wake(); }))
    return FailAuthorization("ERROR: Could not start the token exchange thread");
  SetState(RpcState::Authenticating);
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
    case HttpStage::Open: return RetryAuthorizationLater("ERROR: WinHttpOpen failed");
    case HttpStage::Connect: return RetryAuthorizationLater("ERROR: WinHttpConnect failed");
    case HttpStage::OpenRequest: return RetryAuthorizationLater("ERROR: WinHttpOpenRequest failed");
    case HttpStage::Send: return RetryAuthorizationLater("ERROR: WinHttpSendRequest failed: " + std::to_string(http.error));
    case HttpStage::Receive:
      return RetryAuthorizationLater("ERROR: WinHttpReceiveResponse failed: " + std::to_string(http.error));
    case HttpStage::BodyTooLarge: return FailAuthorization("ERROR: Token response too large");
    case HttpStage::Done: break;
  }
  tokenTransportFailures = 0;
  const TokenResponse response = ReadTokenResponse(http.body);
  // The token is known before the excerpt is logged, so it is redacted
  // wherever it stands.
  accessToken = response.accessToken;
  LogExcerpt("Token response: ", http.body, kTokenExcerptBytes);
  if (accessToken.empty())
    return FailAuthorization("Token exchange failed: " + response.error + " - " + response.errorDescription);
  LogIpc("Got access token!");
  SendAuthenticate(accessToken);
}

void RpcClient::RetryAuthorizationLater(const std::string& why) {
  const uint32_t delay = DoublingDelayMs(++tokenTransportFailures, kFirstReauthorizeMs, kMostReauthorizeMs);
  LogIpc(why + "; authorizing again in " + std::to_string(delay / 1000) + " s");
  reauthorizeWaiting = true;
  reauthorizeSince = GetTickCount();
}

bool RpcClient::ReauthorizeDue(uint32_t now, uint32_t* msLeft) const {
  *msLeft = kNeverDue;
  if (!reauthorizeWaiting) return false;
  const uint32_t delay = DoublingDelayMs(tokenTransportFailures, kFirstReauthorizeMs, kMostReauthorizeMs);
  const uint32_t elapsed = now - reauthorizeSince;
  *msLeft = elapsed >= delay ? 0 : delay - elapsed;
  return *msLeft == 0;
}

void RpcClient::SendAuthenticate(const std::string& token) {
  std::string text = AuthenticateText(token, NextNonce());
  LogIpc("Sending AUTHENTICATE request...");
  SendCommand(text);
}

void RpcClient::HandleAuthenticateResponse(const Json& message) {
  if (auto error = ReadRpcError(message)) {
    LogIpc("AUTHENTICATE error: " + error->message);  // 4009 quotes the token; LogIpc redacts it
    accessToken.clear();  // a refused token is of no more use
    // A token kept from earlier may have expired or been revoked: ask for a
    // new code; Discord grants it without a dialog to a user who consented.
    if (error->code != kInvalidToken || !tokenFromEarlierConnection) return SetState(RpcState::NotAuthorized);
    LogIpc("The kept access token was refused; authorizing again");
    StartAuthorization();
    return;
  }
  const Json* data = JsonMember(message, "data");
  if (!data || !JsonMember(*data, "user")) return;
  authenticated = true;
  SetState(RpcState::Connected);
  LogIpc("Authentication successful!");
  ReportSelfId(message);
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

// The periodic resync: only for a server channel whose snapshot is in.
// *msLeft is kNeverDue when none is due at all.
bool RpcClient::ResyncDue(uint32_t now, uint32_t* msLeft) const {
  *msLeft = kNeverDue;
  if (state != RpcState::Connected || currentChannelId.empty() || IsPrivateCall(currentChannelType)) return false;
  const uint32_t elapsed = now - lastSnapshotRequest;
  *msLeft = elapsed >= kResyncIntervalMs ? 0 : kResyncIntervalMs - elapsed;
  return *msLeft == 0;
}

// Discord keeps every subscription of a connection until UNSUBSCRIBE, and
// voice-state events carry no channel: the channel left is unsubscribed
// before the next one is subscribed.
void RpcClient::FollowChannel(const std::string& channelId) {
  if (channelId == subscribedChannelId) return;
  if (!subscribedChannelId.empty()) {
    LogIpc("Unsubscribing from channel events for: " + subscribedChannelId);
    SendChannelEvents("UNSUBSCRIBE", subscribedChannelId);
  }
  subscribedChannelId = channelId;
  if (channelId.empty()) return;
  LogIpc("Joined voice channel: " + channelId);
  LogIpc("Subscribing to channel events for: " + channelId);
  SendChannelEvents("SUBSCRIBE", channelId);
}

void RpcClient::SendChannelEvents(const char* cmd, const std::string& channelId) {
  const bool subscribing = std::string(cmd) == "SUBSCRIBE";
  for (const char* evt : kChannelEvents) {
    if (!connected || !SendCommand(ChannelEventText(cmd, evt, channelId, NextNonce()))) return;
    if (subscribing && std::string(evt).rfind("SPEAKING_", 0) == 0)
      LogIpc(std::string("Subscribed to ") + evt + " for channel");
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

void RpcClient::HandleSelectedVoiceChannel(const Json& message) {
  VoiceSnapshot snapshot = ParseVoiceSnapshot(message);
  if (snapshot.status == SnapshotStatus::ErrorCode) return LogIpc("Voice channel error code: " + snapshot.errorCode);
  if (snapshot.status == SnapshotStatus::NoData) return LogIpc("No data in voice channel response");
  FollowChannel(snapshot.channelId);
  const bool repeat = RepeatsKnownChannel(snapshot);
  currentChannelId = snapshot.channelId;
  currentChannelType = snapshot.channelType;
  switch (snapshot.status) {
    case SnapshotStatus::NoVoiceStates: return LogIpc("No voice_states in response");
    case SnapshotStatus::NoMemberArray: return;
    default: break;
  }
  if (repeat) return;
  if (snapshot.status == SnapshotStatus::NotInChannel) LogIpc("Not in a voice channel");
  for (const VoiceUser& user : snapshot.users) LogIpc(AddedUserMessage(user));
  if (snapshot.status == SnapshotStatus::Members)
    LogIpc("Found " + std::to_string(snapshot.users.size()) + " users in voice channel");
  std::lock_guard<std::mutex> lock(voiceUsersMutex);
  voiceUsers = std::move(snapshot.users);
  PublishVoiceUsers();
}

void RpcClient::HandleVoiceEvent(const Json& message) {
  std::lock_guard<std::mutex> lock(voiceUsersMutex);
  SpeakingChange spoken;
  if (!ApplyVoiceEvent(message, currentChannelId, voiceUsers, [this](const std::string& line) { LogIpc(line); },
                       &spoken))
    return;
  if (onSpeaking && !spoken.userId.empty()) return onSpeaking(spoken.userId, spoken.speaking);
  PublishVoiceUsers();
}

void RpcClient::HandleMessageCreate(const Json& message) {
  auto chat = ParseMessageCreate(message);
  if (chat && onMessage) onMessage(Utf8ToWide(chat->author), Utf8ToWide(chat->text));
}

// Caller holds voiceUsersMutex.
void RpcClient::PublishVoiceUsers() {
  if (onVoiceUsers) onVoiceUsers(voiceUsers);
}
