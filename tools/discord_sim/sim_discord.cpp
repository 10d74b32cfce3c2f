#include "tools/discord_sim/sim_discord.h"

#include <algorithm>
#include <cstdlib>

#include "rpc/json_scan.h"

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

std::string UserJson(const SimMember& m) {
  return "{\"id\":" + JsonQuote(m.id) + ",\"username\":" + JsonQuote(m.username) +
         ",\"discriminator\":\"0\",\"global_name\":" + NullOr(m.globalName) + ",\"avatar\":" + NullOr(m.avatar) +
         ",\"avatar_decoration_data\":null,\"bot\":" + Bool(m.bot) + ",\"flags\":0,\"premium_type\":0}";
}

SimReply CloseReply(int code, const std::string& message) {
  SimReply reply;
  reply.frames.push_back(Frame(kOpClose, "{\"code\":" + std::to_string(code) + ",\"message\":" + JsonQuote(message) + "}"));
  reply.close = true;
  return reply;
}

}  // namespace

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out + "\"";
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

SimDiscord::SimDiscord(SimScenario scenario, SimAuthRegistry& auth) : scenario_(std::move(scenario)), auth_(auth) {}

void SimDiscord::OnConnect() {
  handshaken_ = false;
  authenticated_ = false;
  clientId_.clear();
  subscriptions_.clear();
}

SimReply SimDiscord::HandleFrame(const RpcFrame& frame) {
  SimReply reply;
  if (frame.opcode == kOpHandshake) {
    if (scenario_.handshake == SimHandshakeMode::Silent) return reply;
    clientId_ = ExtractJsonValue(frame.payload, "client_id");
    if (ExtractJsonValue(frame.payload, "v") != "1" || !AllDigits(clientId_))
      return CloseReply(4000, "Invalid Client ID");
    handshaken_ = true;
    reply.frames.push_back(Frame(
        kOpFrame, Dispatch("READY", "{\"v\":1,\"config\":{\"cdn_host\":\"cdn.discordapp.com\",\"api_endpoint\":"
                                    "\"//discord.com/api\",\"environment\":\"production\"},\"user\":" +
                                        UserJson(scenario_.localUser) + "}")));
    return reply;
  }
  if (!handshaken_) return CloseReply(4000, "Handshake required");
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

SimReply SimDiscord::HandleCommand(const std::string& payload) {
  SimReply reply;
  std::string cmd = ExtractJsonValue(payload, "cmd");
  std::string nonce = ExtractJsonValue(payload, "nonce");
  auto answer = [&](const std::string& data, bool error = false) {
    reply.frames.push_back(Frame(kOpFrame, Answer(cmd, data, nonce, error)));
  };
  if (!authenticated_ && cmd != "AUTHORIZE" && cmd != "AUTHENTICATE") {
    answer(kNotAuthenticated, true);
  } else if (cmd == "AUTHORIZE") {
    std::string args = ExtractJsonObject(payload, "\"args\"");
    if (ExtractJsonValue(args, "client_id") != clientId_ || !ContainsText(args, "\"rpc.voice.read\""))
      answer(R"({"code":4000,"message":"Invalid client id or scopes"})", true);
    else if (scenario_.authorize == SimAuthorizeMode::Grant)
      answer("{\"code\":" + JsonQuote(auth_.IssueCode()) + "}");
    else if (scenario_.authorize == SimAuthorizeMode::Deny)
      answer(R"({"code":5000,"message":"OAuth2 Error: access_denied: The resource owner or authorization server denied the request"})",
             true);
  } else if (cmd == "AUTHENTICATE") {
    std::string token = ExtractJsonValue(payload, "access_token");
    if (scenario_.authenticate == SimAuthenticateMode::Accept && auth_.IsToken(token)) {
      authenticated_ = true;
      answer("{\"application\":{\"id\":" + JsonQuote(clientId_) +
             ",\"name\":\"Voxmere\",\"icon\":null,\"description\":\"\",\"rpc_origins\":[\"http://localhost\"]},"
             "\"expires\":\"2026-12-13T10:00:00.000000+00:00\",\"user\":" +
             UserJson(scenario_.localUser) + ",\"scopes\":[\"rpc\",\"rpc.voice.read\"]}");
    } else {
      answer(R"({"code":4009,"message":"Invalid access token"})", true);
    }
  } else if (cmd == "SUBSCRIBE") {
    std::string evt = ExtractJsonValue(payload, "evt");
    subscriptions_.insert({evt, ExtractJsonValue(ExtractJsonObject(payload, "\"args\""), "channel_id")});
    answer("{\"evt\":" + JsonQuote(evt) + "}");
  } else if (cmd == "GET_SELECTED_VOICE_CHANNEL") {
    reply.frames.push_back(Frame(kOpFrame, SnapshotJson(nonce)));
  } else {
    answer("{\"code\":4002,\"message\":" + JsonQuote("Invalid command: " + cmd) + "}", true);
  }
  return reply;
}

std::string SimDiscord::VoiceStateJson(const SimMember& m) const {
  return "{\"voice_state\":{\"mute\":" + std::string(Bool(m.mute)) + ",\"deaf\":" + Bool(m.deaf) +
         ",\"self_mute\":" + Bool(m.selfMute) + ",\"self_deaf\":" + Bool(m.selfDeaf) +
         ",\"suppress\":false},\"user\":" + UserJson(m) + ",\"nick\":" + NullOr(m.nick) +
         ",\"volume\":100,\"mute\":false,\"pan\":{\"left\":1.0,\"right\":1.0}}";
}

std::string SimDiscord::SnapshotJson(const std::string& nonce) const {
  const SimChannel* channel = nullptr;
  for (const SimChannel& c : scenario_.channels)
    if (c.id == scenario_.selectedChannel) channel = &c;
  if (!channel) return Answer("GET_SELECTED_VOICE_CHANNEL", "null", nonce);
  std::string states;
  for (const SimMember& m : channel->members) states += (states.empty() ? "" : ",") + VoiceStateJson(m);
  return Answer("GET_SELECTED_VOICE_CHANNEL",
                "{\"id\":" + JsonQuote(channel->id) + ",\"name\":" + JsonQuote(channel->name) +
                    ",\"type\":2,\"topic\":\"\",\"bitrate\":64000,\"user_limit\":0,\"guild_id\":" +
                    JsonQuote(channel->guildId) + ",\"position\":0,\"voice_states\":[" + states + "]}",
                nonce);
}

bool SimDiscord::Subscribed(const std::string& evt, const std::string& channelId) const {
  return subscriptions_.count({evt, channelId}) > 0;
}

void SimDiscord::AddChannelEvent(SimReply& reply, const std::string& evt, const std::string& data) const {
  if (Subscribed(evt, scenario_.selectedChannel)) reply.frames.push_back(Frame(kOpFrame, Dispatch(evt, data)));
}

SimMember* SimDiscord::FindSelectedMember(const std::string& id) {
  SimChannel* channel = scenario_.FindChannel(scenario_.selectedChannel);
  if (!channel) return nullptr;
  for (SimMember& m : channel->members)
    if (m.id == id) return &m;
  return nullptr;
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
  SimChannel* channel = scenario_.FindChannel(scenario_.selectedChannel);
  SimMember* member = FindSelectedMember(step.target);
  switch (step.kind) {
    case SimStepKind::Speak:
      AddChannelEvent(reply, step.on ? "SPEAKING_START" : "SPEAKING_STOP",
                      "{\"channel_id\":" + JsonQuote(scenario_.selectedChannel) + ",\"user_id\":" +
                          JsonQuote(step.target) + "}");
      break;
    case SimStepKind::Mute:
    case SimStepKind::Deafen:
      if (!member) break;
      // As in the real client, deafening yourself also mutes you.
      if (step.kind == SimStepKind::Deafen) member->selfDeaf = step.on;
      member->selfMute = step.on;
      AddChannelEvent(reply, "VOICE_STATE_UPDATE", VoiceStateJson(*member));
      break;
    case SimStepKind::Join:
      if (!channel) break;
      channel->members.push_back(step.member);
      AddChannelEvent(reply, "VOICE_STATE_CREATE", VoiceStateJson(step.member));
      break;
    case SimStepKind::Leave:
      if (!member) break;
      AddChannelEvent(reply, "VOICE_STATE_DELETE", VoiceStateJson(*member));
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
