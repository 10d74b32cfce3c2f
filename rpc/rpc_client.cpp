#include "rpc/rpc_client.h"

#include <algorithm>

#include "app/http_endpoint.h"
#include "app/log.h"
#include "app/text_convert.h"
#include "rpc/rpc_commands.h"
#include "rpc/rpc_messages.h"
#include "rpc/secret_redaction.h"

namespace {

constexpr uint32_t kNeverDue = 0xFFFFFFFF;
constexpr size_t kSpeakingExcerptBytes = 800;
constexpr size_t kResponseExcerptBytes = 500;
constexpr int kLoggedResponseLimit = 20;

const char* const kNoCompleteFrame = "ERROR: No complete frame within 2000 ms, disconnecting";
const char* const kClosedMidFrame = "ERROR: Pipe closed while reading a frame, disconnecting";
const char* const kClosedBetweenFrames = "Pipe closed by Discord, disconnected";
constexpr int64_t kInvalidClientId = 4000;

bool IsVoiceEvent(const std::string& evt) {
  return evt == "VOICE_STATE_CREATE" || evt == "VOICE_STATE_UPDATE" || evt == "VOICE_STATE_DELETE" ||
         evt == "SPEAKING_START" || evt == "SPEAKING_STOP";
}

TokenOutcome OutcomeOf(const HttpResult& http) {
  switch (http.stage) {
    case HttpStage::Open: return {TokenOutcome::Unreachable, "ERROR: WinHttpOpen failed"};
    case HttpStage::Connect: return {TokenOutcome::Unreachable, "ERROR: WinHttpConnect failed"};
    case HttpStage::OpenRequest: return {TokenOutcome::Unreachable, "ERROR: WinHttpOpenRequest failed"};
    case HttpStage::Send:
      return {TokenOutcome::Unreachable, "ERROR: WinHttpSendRequest failed: " + std::to_string(http.error)};
    case HttpStage::Receive:
      return {TokenOutcome::Unreachable, "ERROR: WinHttpReceiveResponse failed: " + std::to_string(http.error)};
    case HttpStage::BodyTooLarge: return {TokenOutcome::TooLarge};
    case HttpStage::Done: break;
  }
  return {TokenOutcome::Answered, http.body};
}

}  // namespace

RpcClient::RpcClient() : transport([this](const std::string& line) { LogIpc(line); }) {
  authorization.act = [this](const AuthStep& step) { return CarryOut(step); };
  voice.log = [this](const std::string& line) { LogIpc(line); };
  voice.nextNonce = [this] { return NextNonce(); };
  voice.send = [this](const std::string& text) { return SendCommand(text); };
  voice.publish = [this](const std::vector<VoiceUser>& users) {
    if (onVoiceUsers) onVoiceUsers(users);
  };
  voice.takeSpeaking = [this](const std::string& userId, bool speaking) {
    if (!onSpeaking) return false;
    onSpeaking(userId, speaking);
    return true;
  };
}

// Not Disconnect: the overlay that onVoiceUsers reaches may be gone.
RpcClient::~RpcClient() = default;

// A connection waiting for Discord (READY, the user's consent, the token)
// is kept: a second handshake would queue behind it, and a second AUTHORIZE
// would open a second dialog.
bool RpcClient::StillOnItsWay() const {
  return IsConnected() &&
         (awaitingReady || state == RpcState::WaitingForConsent || state == RpcState::Authenticating);
}

bool RpcClient::Connect(const std::wstring& id) {
  if (StillOnItsWay() && id == clientId) {
    LogIpc("Connection to Discord still on its way; no second one opened");
    return true;
  }
  Disconnect();  // never leak an open pipe
  clientId = id;
  transport.WakeWith(onWake);
  LogIpc("Connecting to Discord...");
  if (!transport.Open()) {
    LogIpc("ERROR: Failed to open pipe");
    return false;
  }
  LogIpc("Pipe opened");
  authorization.OnPipeOpened();
  if (!SendFrame(kOpHandshake, HandshakeText(WideToUtf8(id))) || !transport.StartRead()) {
    LogIpc("ERROR: Handshake failed");
    ClosePipe();
    return false;
  }
  awaitingReady = true;
  if (state != RpcState::ClientIdRejected) SetState(RpcState::WaitingForReady);
  LogIpc("Waiting for Discord's READY...");
  return true;
}

void RpcClient::Disconnect() {
  ClosePipe();
  if (state != RpcState::ClientIdRejected) SetState(RpcState::Disconnected);
  voice.OnConnectionLost();
}

void RpcClient::LoseConnection(const std::string& why) {
  LogIpc(why);
  Disconnect();
}

void RpcClient::ClosePipe() {
  transport.Close();
  awaitingReady = false;
  authorization.OnConnectionLost();
}

void RpcClient::SetState(RpcState next) {
  if (state == next) return;
  state = next;
  if (onStateChanged) onStateChanged(next);
}

// A write that Discord does not take in time, or that fails, loses the
// connection; the reconnect rule takes over.
bool RpcClient::SendFrame(uint32_t opcode, const std::string& payload) {
  std::string failure;
  if (transport.Send(opcode, payload, &failure)) return true;
  if (!failure.empty()) LoseConnection(failure);
  return false;
}

bool RpcClient::TakeFrame(RpcFrame& frame) {
  std::string failure;
  if (transport.TakeFrame(frame, &failure)) return true;
  if (!failure.empty()) LoseConnection(failure);
  return false;
}

void RpcClient::Poll() {
  if (!IsConnected()) return;
  PickUpTokenResponse();
  if (!IsConnected()) return;
  // Frames that came before a break are still Discord's last words.
  const bool broken = !transport.ReceiveNow();
  RpcFrame frame;
  while (IsConnected() && TakeFrame(frame)) HandleFrame(frame);
  if (!IsConnected()) return;
  if (broken) return LoseConnection(transport.MidFrame() ? kClosedMidFrame : kClosedBetweenFrames);
  const uint32_t now = GetTickCount();
  if (transport.MsUntilFrameOverdue(now) == 0) return LoseConnection(kNoCompleteFrame);
  if (MsUntilResync(now) == 0) voice.Resync(now);
  authorization.OnTick(now);
}

uint32_t RpcClient::MsUntilPollDue(uint32_t now) const {
  if (!IsConnected()) return kNeverDue;
  if (transport.ReadArrived()) return 0;
  return std::min({MsUntilResync(now), authorization.MsUntilDue(now), transport.MsUntilFrameOverdue(now)});
}

uint32_t RpcClient::MsUntilResync(uint32_t now) const {
  return state == RpcState::Connected ? voice.MsUntilResync(now) : kNeverDue;
}

void RpcClient::AllowAuthorization(bool allowed) { authorization.Allow(allowed); }

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
      LogIpc("SPEAKING Response: " + payload.substr(0, kSpeakingExcerptBytes));
    if (loggedResponses < kLoggedResponseLimit) {
      LogIpc("Response: " + payload.substr(0, kResponseExcerptBytes));
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
  if (cmd == "AUTHORIZE") return authorization.OnAuthorizeAnswer(message, !clientSecret.empty());
  if (cmd == "AUTHENTICATE") return authorization.OnAuthenticateAnswer(message);
  if (cmd == "GET_SELECTED_VOICE_CHANNEL") return voice.OnSnapshot(message);
  if (cmd == "SUBSCRIBE" || cmd == "UNSUBSCRIBE")
    return LogIpc(cmd + " response received, skipping event processing");

  const std::string evt = JsonString(message, "evt");
  if (!evt.empty()) LogIpc("Event received: " + evt);
  if (IsVoiceEvent(evt)) {
    voice.OnVoiceEvent(message);
  } else if (evt == "VOICE_CHANNEL_SELECT") {
    LogIpc("Voice channel selection changed, requesting update...");
    voice.OnChannelSelected(message, GetTickCount());
  } else if (evt == "MESSAGE_CREATE") {
    auto chat = ParseMessageCreate(message);
    if (chat && onMessage) onMessage(Utf8ToWide(chat->author), Utf8ToWide(chat->text));
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
  ReportSelfId(ReadUserId(message));
  authorization.OnReady();
}

bool RpcClient::CarryOut(const AuthStep& step) {
  switch (step.kind) {
    case AuthStepKind::Log: LogIpc(step.text); break;
    case AuthStepKind::State: SetState(step.state); break;
    case AuthStepKind::SendAuthorize: SendCommand(AuthorizeText(WideToUtf8(clientId), NextNonce())); break;
    case AuthStepKind::ExchangeCode: return ExchangeCodeForToken(step.text);
    case AuthStepKind::SendAuthenticate: SendCommand(AuthenticateText(step.text, NextNonce())); break;
    case AuthStepKind::Authenticated:
      ReportSelfId(step.text);
      voice.Start(GetTickCount());
      break;
  }
  return true;
}

bool RpcClient::ExchangeCodeForToken(const std::string& code) {
  HttpRequestSpec request;
  request.method = L"POST";
  request.path = L"/api/oauth2/token";
  request.headers = L"Content-Type: application/x-www-form-urlencoded";
  request.body = TokenRequestBody(WideToUtf8(clientId), WideToUtf8(clientSecret), code);
  request.maxBodyBytes = 64 * 1024;
  HttpEndpoint endpoint = ResolveHttpEndpoint("VOXMERE_API_BASE", kDiscordApiHost);
  return tokenExchange.Start(endpoint, request, authorization.Connection(), transport.Waker());
}

void RpcClient::PickUpTokenResponse() {
  auto result = tokenExchange.TakeResult();
  if (result) authorization.OnTokenOutcome(result->tag, OutcomeOf(result->http), GetTickCount());
}

void RpcClient::ReportSelfId(const std::string& id) {
  if (!id.empty() && onSelfId) onSelfId(id);
}

void RpcClient::LogIpc(const std::string& message) {
  WriteLogLine(L"[IPC] " + Utf8ToWide(RedactSecrets(message, {authorization.AccessToken(), WideToUtf8(clientSecret)})));
}
