#include "tools/discord_sim/sim_discord.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr const char* kNotAuthenticated = R"({"code":4006,"message":"Not authenticated or invalid scope"})";

std::string NullOr(const std::string& value) { return value.empty() ? "null" : JsonQuote(value); }
const char* Bool(bool b) { return b ? "true" : "false"; }

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

RpcFrame Frame(uint32_t opcode, const std::string& payload) { return RpcFrame{opcode, payload}; }

std::string Answer(const std::string& cmd, const std::string& data, const std::string& nonce, bool error = false) {
  return "{\"cmd\":" + JsonQuote(cmd) + ",\"data\":" + data + ",\"evt\":" + (error ? "\"ERROR\"" : "null") +
         ",\"nonce\":" + NullOr(nonce) + "}";
}

std::string Dispatch(const std::string& evt, const std::string& data) {
  return "{\"cmd\":\"DISPATCH\",\"data\":" + data + ",\"evt\":" + JsonQuote(evt) + ",\"nonce\":null}";
}

std::string ErrorData(int code, const std::string& message) {
  return "{\"code\":" + std::to_string(code) + ",\"message\":" + JsonQuote(message) + "}";
}

std::string UserJson(const SimMember& m) {
  return "{\"id\":" + JsonQuote(m.id) + ",\"username\":" + JsonQuote(m.username) +
         ",\"discriminator\":\"0\",\"global_name\":" + NullOr(m.globalName) + ",\"avatar\":" + NullOr(m.avatar) +
         ",\"avatar_decoration_data\":null,\"bot\":" + Bool(m.bot) + ",\"flags\":0,\"premium_type\":0}";
}

// The name Discord shows: server nickname, else global name, else user name.
const std::string& ShownName(const SimMember& m) {
  return !m.nick.empty() ? m.nick : !m.globalName.empty() ? m.globalName : m.username;
}

SimReply CloseReply(int code, const std::string& message) {
  SimReply reply;
  reply.frames.push_back(Frame(kOpClose, ErrorData(code, message)));
  reply.close = true;
  return reply;
}

bool HasScope(const Json& args, const std::string& scope) {
  const Json* scopes = JsonMember(args, "scopes");
  return scopes && scopes->is_array() && std::find(scopes->begin(), scopes->end(), Json(scope)) != scopes->end();
}

const Json& Args(const Json& command) {
  static const Json kEmpty = Json::object();
  const Json* args = JsonMember(command, "args");
  return args && args->is_object() ? *args : kEmpty;
}

}  // namespace

std::string JsonQuote(const std::string& text) { return FormatJson(Json(text)); }

std::string VoiceStateJson(const SimMember& m) {
  return "{\"nick\":" + JsonQuote(ShownName(m)) + ",\"mute\":" + Bool(m.localMute) +
         ",\"volume\":100,\"pan\":{\"left\":1,\"right\":1},\"voice_state\":{\"mute\":" + Bool(m.mute) +
         ",\"deaf\":" + Bool(m.deaf) + ",\"self_mute\":" + Bool(m.selfMute) + ",\"self_deaf\":" + Bool(m.selfDeaf) +
         ",\"suppress\":false},\"user\":" + UserJson(m) + "}";
}

std::string SimAuthRegistry::IssueCode() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string code = "SimCode" + std::to_string(++serial_) + "x";
  code.append(30 - code.size(), 'Q');  // Discord's codes are 30 characters
  codes_.insert(code);
  return code;
}

std::string SimAuthRegistry::RedeemCode(const std::string& code) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (codes_.erase(code) == 0) return {};
  std::string token = "SimAccessToken" + std::to_string(++serial_) + "SECRETxyz";
  tokens_.insert(token);
  return token;
}

bool SimAuthRegistry::IsToken(const std::string& token) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tokens_.count(token) > 0;
}

void SimAuthRegistry::ExpireTokens() {
  std::lock_guard<std::mutex> lock(mutex_);
  tokens_.clear();
}

bool SimAuthRegistry::IsAuthorized(const std::string& clientId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return authorized_.count(clientId) > 0;
}

void SimAuthRegistry::MarkAuthorized(const std::string& clientId) {
  std::lock_guard<std::mutex> lock(mutex_);
  authorized_.insert(clientId);
}

int SimAuthRegistry::CountConsentDialog() {
  std::lock_guard<std::mutex> lock(mutex_);
  return ++consentDialogs_;
}

int SimAuthRegistry::ConsentDialogs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return consentDialogs_;
}

void SimHandshakeLimiter::Refill(uint64_t nowMs) {
  while (slots_ < kBurst && nowMs - lastRefillMs_ >= intervalMs_) {
    ++slots_;
    lastRefillMs_ += intervalMs_;
  }
  if (slots_ == kBurst) lastRefillMs_ = nowMs;  // the interval runs from the first slot taken
}

bool SimHandshakeLimiter::TryTake(uint64_t nowMs) {
  Refill(nowMs);
  if (slots_ == 0) return false;
  --slots_;
  return true;
}

uint64_t SimHandshakeLimiter::NextSlotAt(uint64_t nowMs) {
  Refill(nowMs);
  return slots_ > 0 ? nowMs : lastRefillMs_ + intervalMs_;
}

SimDiscord::SimDiscord(SimScenario scenario, SimAuthRegistry& auth) : scenario_(std::move(scenario)), auth_(auth) {}

void SimDiscord::OnConnect() {
  handshaken_ = false;
  readyQueued_ = false;
  authenticated_ = false;
  clientId_.clear();
  subscriptions_.clear();
}

void SimDiscord::OnRestart() { limiters_.clear(); }

SimHandshakeLimiter& SimDiscord::Limiter(const std::string& clientId) {
  return limiters_.try_emplace(clientId, scenario_.handshakeIntervalMs).first->second;
}

bool SimDiscord::KnownApplication(const std::string& clientId) const {
  if (!AllDigits(clientId)) return false;
  const auto& known = scenario_.applications;
  return known.empty() || std::find(known.begin(), known.end(), clientId) != known.end();
}

SimReply SimDiscord::HandleFrame(const RpcFrame& frame, uint64_t nowMs) {
  SimReply reply;
  if (frame.opcode == kOpHandshake) return HandleHandshake(frame.payload, nowMs);
  if (!handshaken_) return readyQueued_ ? reply : CloseReply(4000, "Handshake required");
  if (frame.opcode == kOpClose) {
    reply.close = true;
    return reply;
  }
  if (frame.opcode == kOpPing) {
    reply.frames.push_back(Frame(kOpPong, frame.payload));
    return reply;
  }
  if (frame.opcode != kOpFrame) return reply;
  return HandleCommand(frame.payload);
}

SimReply SimDiscord::HandleHandshake(const std::string& payload, uint64_t nowMs) {
  SimReply reply;
  if (scenario_.handshake == SimHandshakeMode::Silent) return reply;
  auto hello = ParseJson(payload);
  clientId_ = hello ? JsonString(*hello, "client_id") : "";
  if (!hello || JsonInt(*hello, "v", 0) != 1 || !KnownApplication(clientId_))
    return CloseReply(4000, "Invalid Client ID");
  if (Limiter(clientId_).TryTake(nowMs)) return Ready();
  readyQueued_ = true;
  reply.notes.push_back("HANDSHAKE QUEUED for " + std::to_string(Limiter(clientId_).NextSlotAt(nowMs) - nowMs) +
                        " ms");
  return reply;
}

std::optional<uint64_t> SimDiscord::QueuedReadyAt(uint64_t nowMs) {
  if (!readyQueued_) return std::nullopt;
  return Limiter(clientId_).NextSlotAt(nowMs);
}

SimReply SimDiscord::ReleaseQueuedReady(uint64_t nowMs) {
  if (!readyQueued_ || !Limiter(clientId_).TryTake(nowMs)) return {};
  readyQueued_ = false;
  SimReply reply = Ready();
  reply.notes.push_back("HANDSHAKE RELEASED");
  return reply;
}

SimReply SimDiscord::Ready() {
  handshaken_ = true;
  SimReply reply;
  reply.frames.push_back(Frame(
      kOpFrame, Dispatch("READY", "{\"v\":1,\"config\":{\"cdn_host\":\"cdn.discordapp.com\",\"api_endpoint\":"
                                  "\"//discord.com/api\",\"environment\":\"production\"},\"user\":" +
                                      UserJson(scenario_.localUser) + "}")));
  return reply;
}

SimReply SimDiscord::HandleCommand(const std::string& payload) {
  SimReply reply;
  const Json command = ParseJson(payload).value_or(Json());
  const std::string cmd = JsonString(command, "cmd");
  const std::string nonce = JsonString(command, "nonce");
  const Json& args = Args(command);
  auto answer = [&](const std::string& data, bool error) {
    reply.frames.push_back(Frame(kOpFrame, Answer(cmd, data, nonce, error)));
  };
  if (!authenticated_ && cmd != "AUTHORIZE" && cmd != "AUTHENTICATE") {
    answer(kNotAuthenticated, true);
  } else if (cmd == "AUTHORIZE") {
    Authorize(args, answer, reply);
  } else if (cmd == "AUTHENTICATE") {
    std::string token = JsonString(args, "access_token");
    if (scenario_.authenticate == SimAuthenticateMode::Accept && auth_.IsToken(token)) {
      authenticated_ = true;
      answer("{\"application\":{\"id\":" + JsonQuote(clientId_) +
                 ",\"name\":\"Voxmere\",\"icon\":null,\"description\":\"\",\"rpc_origins\":[\"http://localhost\"]},"
                 "\"expires\":\"2026-12-13T10:00:00.000000+00:00\",\"user\":" +
                 UserJson(scenario_.localUser) + ",\"scopes\":[\"rpc\",\"rpc.voice.read\"]}",
             false);
    } else {
      answer(ErrorData(4009, "Invalid access token: " + token), true);
    }
  } else if (cmd == "SUBSCRIBE" || cmd == "UNSUBSCRIBE") {
    const std::string evt = JsonString(command, "evt");
    const std::pair<std::string, std::string> key{evt, JsonString(args, "channel_id")};
    if (cmd == "SUBSCRIBE") subscriptions_.insert(key);
    else subscriptions_.erase(key);
    answer("{\"evt\":" + JsonQuote(evt) + "}", false);
  } else if (cmd == "GET_SELECTED_VOICE_CHANNEL") {
    reply.frames.push_back(Frame(kOpFrame, SnapshotJson(nonce, reply)));
  } else {
    answer(ErrorData(4002, "Invalid command: " + cmd), true);
  }
  return reply;
}

// A dialog for every AUTHORIZE, unless prompt is "none" and the user has
// authorized the application before.
void SimDiscord::Authorize(const Json& args, const std::function<void(const std::string&, bool)>& answer,
                           SimReply& reply) {
  if (JsonString(args, "client_id") != clientId_ || !HasScope(args, "rpc.voice.read"))
    return answer(ErrorData(4000, "Invalid client id or scopes"), true);
  if (!scenario_.redirectUri)
    return answer(ErrorData(5000, "OAuth2 Error: invalid_request: Missing \"redirect_uri\""), true);
  if (!scenario_.scopesApproved)
    return answer(ErrorData(5000, "OAuth2 Error: invalid_scope: The requested scope is invalid, unknown, or malformed."),
                  true);
  const bool silentGrant = JsonString(args, "prompt") == "none" && auth_.IsAuthorized(clientId_);
  if (!silentGrant) {
    reply.notes.push_back("CONSENT DIALOG " + std::to_string(auth_.CountConsentDialog()));
    if (scenario_.authorize == SimAuthorizeMode::Silent) return;
    if (scenario_.authorize == SimAuthorizeMode::Deny)
      return answer(ErrorData(5000, "OAuth2 Error: access_denied: The resource owner or authorization server "
                                    "denied the request"),
                    true);
    auth_.MarkAuthorized(clientId_);
  }
  answer("{\"code\":" + JsonQuote(auth_.IssueCode()) + "}", false);
}

std::string SimDiscord::SnapshotJson(const std::string& nonce, SimReply& reply) {
  const SimChannel* channel = scenario_.FindChannel(scenario_.selectedChannel);
  if (!channel) return Answer("GET_SELECTED_VOICE_CHANNEL", "null", nonce);
  // For a call Discord fetches the channel's messages from its web API.
  if (channel->type == 1 || channel->type == 3)
    reply.notes.push_back("API FETCH /channels/" + channel->id + "/messages " + std::to_string(++messageFetches_));
  std::string states;
  for (const SimMember& m : channel->members) states += (states.empty() ? "" : ",") + VoiceStateJson(m);
  return Answer("GET_SELECTED_VOICE_CHANNEL",
                "{\"id\":" + JsonQuote(channel->id) + ",\"name\":" + JsonQuote(channel->name) +
                    ",\"type\":" + std::to_string(channel->type) +
                    ",\"topic\":\"\",\"bitrate\":64000,\"user_limit\":0,\"guild_id\":" + NullOr(channel->guildId) +
                    ",\"position\":0,\"voice_states\":[" + states + "]}",
                nonce);
}

bool SimDiscord::Subscribed(const std::string& evt, const std::string& channelId) const {
  return subscriptions_.count({evt, channelId}) > 0;
}

// Whatever channel is selected now: a subscription lasts until UNSUBSCRIBE.
void SimDiscord::AddChannelEvent(SimReply& reply, const std::string& channelId, const std::string& evt,
                                 const std::string& data) const {
  if (Subscribed(evt, channelId)) reply.frames.push_back(Frame(kOpFrame, Dispatch(evt, data)));
}

bool SimDiscord::TimelineActive() const { return authenticated_ && nextStep_ < scenario_.timeline.size(); }

uint32_t SimDiscord::NextStepDelayMs() const { return scenario_.timeline[nextStep_].delayMs; }

SimReply SimDiscord::RunNextStep() {
  SimReply reply = RunStep(scenario_.timeline[nextStep_]);
  if (++nextStep_ == scenario_.timeline.size() && scenario_.loop) nextStep_ = 0;
  return reply;
}

SimReply SimDiscord::RunStep(const SimStep& step) {
  SimReply reply;
  const std::string channelId = step.channel.empty() ? scenario_.selectedChannel : step.channel;
  SimChannel* channel = scenario_.FindChannel(channelId);
  SimMember* member = nullptr;
  if (channel)
    for (SimMember& m : channel->members)
      if (m.id == step.target) member = &m;
  switch (step.kind) {
    case SimStepKind::Speak:
      AddChannelEvent(reply, channelId, step.on ? "SPEAKING_START" : "SPEAKING_STOP",
                      "{\"channel_id\":" + JsonQuote(channelId) + ",\"user_id\":" + JsonQuote(step.target) + "}");
      break;
    case SimStepKind::Mute:
    case SimStepKind::Deafen:
    case SimStepKind::Update:
      if (!member) break;
      // As in the real client, deafening yourself also mutes you.
      if (step.kind == SimStepKind::Deafen) member->selfDeaf = step.on;
      if (step.kind != SimStepKind::Update) member->selfMute = step.on;
      AddChannelEvent(reply, channelId, "VOICE_STATE_UPDATE", VoiceStateJson(*member));
      break;
    case SimStepKind::Join:
      if (!channel) break;
      channel->members.push_back(step.member);
      AddChannelEvent(reply, channelId, "VOICE_STATE_CREATE", VoiceStateJson(step.member));
      break;
    case SimStepKind::Leave:
      if (!member) break;
      AddChannelEvent(reply, channelId, "VOICE_STATE_DELETE", VoiceStateJson(*member));
      channel->members.erase(channel->members.begin() + (member - channel->members.data()));
      break;
    case SimStepKind::Switch:
    case SimStepKind::LeaveChannel: {
      scenario_.selectedChannel = step.kind == SimStepKind::Switch ? step.target : "";
      const SimChannel* selected = scenario_.FindChannel(scenario_.selectedChannel);
      if (Subscribed("VOICE_CHANNEL_SELECT", ""))
        reply.frames.push_back(Frame(
            kOpFrame, Dispatch("VOICE_CHANNEL_SELECT", "{\"channel_id\":" + NullOr(scenario_.selectedChannel) +
                                                           ",\"guild_id\":" +
                                                           NullOr(selected ? selected->guildId : "") + "}")));
      break;
    }
    case SimStepKind::Ping: reply.frames.push_back(Frame(kOpPing, step.target)); break;
    case SimStepKind::Close: return CloseReply(1000, "Closed by the simulator");
    case SimStepKind::Raw: reply.frames.push_back(Frame(kOpFrame, step.target)); break;
    case SimStepKind::CutFrame:
      reply.bytes = EncodeRpcFrame(kOpFrame, step.target).substr(0, kRpcFrameHeaderSize + step.target.size() / 2);
      reply.cut = true;
      break;
    case SimStepKind::Bytes: reply.bytes = step.target; break;
    case SimStepKind::Drop: reply.drop = true; break;
    case SimStepKind::Restart: reply.restart = true; break;
    case SimStepKind::Stall: reply.stallMs = static_cast<uint32_t>(std::strtoul(step.target.c_str(), nullptr, 10)); break;
    case SimStepKind::Message:
      reply.frames.push_back(Frame(
          kOpFrame, Dispatch("MESSAGE_CREATE", "{\"channel_id\":" + NullOr(scenario_.selectedChannel) +
                                                   ",\"message\":{\"id\":\"400000000000000001\",\"content\":" +
                                                   JsonQuote(step.text) + ",\"author\":{\"id\":\"100000000000000099\","
                                                   "\"username\":" + JsonQuote(step.target) + "}}}")));
      break;
  }
  return reply;
}
