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
// The handshake's answer, and every frame once its first byte is waiting,
// must be complete within this; Discord answers in milliseconds.
constexpr DWORD kFrameWaitMs = 2000;
constexpr size_t kSpeakingExcerptBytes = 800;
constexpr size_t kResponseExcerptBytes = 500;
constexpr size_t kTokenExcerptBytes = 200;
constexpr int kLoggedResponseLimit = 20;
constexpr size_t kCodeExcerptBytes = 10;

std::wstring PipeName(int n) { return L"\\\\.\\pipe\\discord-ipc-" + std::to_wstring(n); }

bool IsVoiceEvent(const std::string& evt) {
  return evt == "VOICE_STATE_CREATE" || evt == "VOICE_STATE_UPDATE" || evt == "VOICE_STATE_DELETE" ||
         evt == "SPEAKING_START" || evt == "SPEAKING_STOP";
}

}  // namespace

RpcClient::~RpcClient() { Disconnect(); }

// ---- Transport ----

bool RpcClient::Connect(const std::wstring& id) {
  Disconnect();  // never leak an open pipe
  clientId = id;
  LogIpc("Connecting to Discord...");
  for (int n = 0; n < kPipeCount && pipe == INVALID_HANDLE_VALUE; ++n)
    pipe = CreateFileW(PipeName(n).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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
  SendAuthorize();
  connected = true;
  return true;
}

void RpcClient::Disconnect() {
  connected = false;
  ClosePipe();
}

void RpcClient::ClosePipe() {
  if (pipe != INVALID_HANDLE_VALUE) {
    CloseHandle(pipe);
    pipe = INVALID_HANDLE_VALUE;
  }
  // An AUTHORIZE dies with its pipe; the next connection must ask again.
  authorizing = false;
}

bool RpcClient::SendFrame(uint32_t opcode, const std::string& payload) {
  if (pipe == INVALID_HANDLE_VALUE) return false;
  std::string buffer = EncodeRpcFrame(opcode, payload);
  DWORD written = 0;
  return WriteFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &written, nullptr) != FALSE;
}

bool RpcClient::SendCommand(const std::string& text) { return SendFrame(kOpFrame, text); }

// Reads until size bytes are in, or kFrameWaitMs after start. Each ReadFile
// asks only for what PeekNamedPipe shows waiting: a blocking read would hold
// the user-interface thread for as long as a silent peer likes.
bool RpcClient::ReadExact(char* buffer, size_t size, DWORD start) {
  size_t got = 0;
  while (got < size) {
    DWORD available = 0;
    DWORD read = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) break;
    if (available == 0) {
      if (GetTickCount() - start >= kFrameWaitMs) {
        LogIpc("ERROR: No complete frame within " + std::to_string(kFrameWaitMs) + " ms, disconnecting");
        return false;
      }
      Sleep(1);
      continue;
    }
    DWORD wanted = static_cast<DWORD>(std::min<size_t>(available, size - got));
    if (!ReadFile(pipe, buffer + got, wanted, &read, nullptr) || read == 0) break;
    got += read;
  }
  if (got == size) return true;
  LogIpc("ERROR: Pipe closed while reading a frame, disconnecting");
  return false;
}

// A failure leaves the stream out of step, or the peer gone: the caller
// disconnects.
bool RpcClient::ReadFrame(RpcFrame& frame) {
  if (pipe == INVALID_HANDLE_VALUE) return false;
  const DWORD start = GetTickCount();
  char header[kRpcFrameHeaderSize];
  if (!ReadExact(header, sizeof(header), start)) return false;
  RpcFrameHeader decoded = DecodeRpcFrameHeader(header);
  if (decoded.opcode > kOpPong) {
    LogIpc("ERROR: Unknown frame opcode " + std::to_string(decoded.opcode) + ", disconnecting");
    return false;
  }
  if (decoded.length > kMaxRpcPayloadBytes) {
    LogIpc("ERROR: Frame payload too large (" + std::to_string(decoded.length) + " bytes), disconnecting");
    return false;
  }
  frame.opcode = decoded.opcode;
  frame.payload.assign(decoded.length, '\0');
  return decoded.length == 0 || ReadExact(&frame.payload[0], decoded.length, start);
}

bool RpcClient::PerformHandshake(const std::wstring& id) {
  if (!SendFrame(kOpHandshake, HandshakeText(WideToBytes(id)))) return false;
  RpcFrame answer;
  if (!ReadFrame(answer)) return false;
  if (!ContainsText(answer.payload, "\"evt\":\"READY\"") && !ContainsText(answer.payload, "\"cmd\":\"DISPATCH\""))
    return false;
  ReportSelfId(answer.payload);
  return true;
}

void RpcClient::ReportSelfId(const std::string& payload) {
  std::string id = ExtractJsonValue(ExtractJsonObject(payload, "\"user\""), "id");
  if (!id.empty() && onSelfId) onSelfId(Utf8ToWide(id));
}

void RpcClient::Poll() {
  if (!connected || pipe == INVALID_HANDLE_VALUE) return;
  ++pollCount;
  if (authenticated && SnapshotDue(pollCount)) RequestSelectedVoiceChannel();
  PickUpTokenResponse();
  DWORD available = 0;
  if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
    LogIpc("Pipe closed by Discord, disconnected");
    Disconnect();
    return;
  }
  if (available == 0) return;
  RpcFrame frame;
  if (ReadFrame(frame)) HandleFrame(frame);
  else Disconnect();
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
    RequestSelectedVoiceChannel();
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
  if (!tokenExchange.Start(endpoint, request, connectionSerial))
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
  RequestSelectedVoiceChannel();
}

// ---- Voice tracking ----

void RpcClient::SubscribeVoiceChannelSelect() {
  LogIpc("Subscribing to voice events...");
  SendCommand(SubscribeVoiceChannelSelectText(NextNonce()));
  LogIpc("Subscribed to VOICE_CHANNEL_SELECT");
}

void RpcClient::RequestSelectedVoiceChannel() {
  std::string text = GetSelectedVoiceChannelText(NextNonce());
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

void RpcClient::HandleSelectedVoiceChannel(const std::string& payload) {
  VoiceSnapshot snapshot = ParseVoiceSnapshot(payload);
  switch (snapshot.status) {
    case SnapshotStatus::ErrorCode: return LogIpc("Voice channel error code: " + snapshot.errorCode);
    case SnapshotStatus::NoData: return LogIpc("No data in voice channel response");
    case SnapshotStatus::NotInChannel: {
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
  for (const VoiceUser& user : snapshot.users) LogIpc(AddedUserMessage(user));
  LogIpc("Found " + std::to_string(snapshot.users.size()) + " users in voice channel");
  std::lock_guard<std::mutex> lock(voiceUsersMutex);
  CarrySpeakingFlags(voiceUsers, snapshot.users);
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
