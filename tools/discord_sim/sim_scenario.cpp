#include "tools/discord_sim/sim_scenario.h"

#include <cstdlib>

namespace {

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

// "id username [global=G] [nick=N] [avatar=A] [bot] [local_mute] [mute] [deaf] [self_mute] [self_deaf]"
bool ParseMember(const std::vector<std::string>& words, size_t first, SimMember& member, std::string* error) {
  if (words.size() < first + 2) return Fail(error, "a member needs an id and a user name");
  member.id = words[first];
  member.username = words[first + 1];
  for (size_t i = first + 2; i < words.size(); ++i) {
    const std::string& w = words[i];
    size_t eq = w.find('=');
    std::string key = w.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : w.substr(eq + 1);
    if (key == "global") member.globalName = value;
    else if (key == "nick") member.nick = value;
    else if (key == "avatar") member.avatar = value;
    else if (w == "bot") member.bot = true;
    else if (w == "local_mute") member.localMute = true;
    else if (w == "mute") member.mute = true;
    else if (w == "deaf") member.deaf = true;
    else if (w == "self_mute") member.selfMute = true;
    else if (w == "self_deaf") member.selfDeaf = true;
    else return Fail(error, "unknown member attribute: " + w);
  }
  return true;
}

bool ParseOnOff(const std::string& word, bool& on) {
  if (word != "on" && word != "off") return false;
  on = word == "on";
  return true;
}

// The rest of the line after the first `words` words, as written.
std::string RestOfLine(const std::string& line, int words) {
  size_t i = 0;
  for (int w = 0; w < words; ++w) {
    while (i < line.size() && line[i] == ' ') ++i;
    while (i < line.size() && line[i] != ' ') ++i;
  }
  while (i < line.size() && line[i] == ' ') ++i;
  return line.substr(i);
}

// "01ff..." to its bytes; false on an odd length or a non-hex digit.
bool ParseHex(const std::string& hex, std::string& bytes) {
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (hex.empty() || hex.size() % 2 != 0) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = nibble(hex[i]), low = nibble(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

}  // namespace

SimChannel* SimScenario::FindChannel(const std::string& id) {
  for (SimChannel& c : channels)
    if (c.id == id) return &c;
  return nullptr;
}

std::vector<std::string> SplitScenarioWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '\\' && i + 1 < line.size()) {
      word += line[++i];
    } else if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) words.push_back(word);
  return words;
}

std::optional<SimStep> ParseScenarioStep(const std::string& line, std::string* error) {
  std::vector<std::string> w = SplitScenarioWords(line);
  if (w.size() >= 3 && w[0] == "in") {
    auto step = ParseScenarioStep(RestOfLine(line, 2), error);
    if (step) step->channel = w[1];
    return step;
  }
  if (w.empty()) {
    Fail(error, "empty step");
    return std::nullopt;
  }
  SimStep step;
  const std::string& verb = w[0];
  bool ok = true;
  if (verb == "speak" || verb == "mute" || verb == "deafen") {
    step.kind = verb == "speak" ? SimStepKind::Speak : verb == "mute" ? SimStepKind::Mute : SimStepKind::Deafen;
    ok = w.size() == 3 && ParseOnOff(w[2], step.on);
    if (ok) step.target = w[1];
  } else if (verb == "join") {
    step.kind = SimStepKind::Join;
    ok = ParseMember(w, 1, step.member, error);
  } else if (verb == "leave" || verb == "switch" || verb == "update") {
    step.kind = verb == "leave" ? SimStepKind::Leave : verb == "update" ? SimStepKind::Update : SimStepKind::Switch;
    ok = w.size() == 2;
    if (ok) step.target = w[1];
  } else if (verb == "leave_channel" || verb == "close" || verb == "drop" || verb == "restart") {
    step.kind = verb == "close"     ? SimStepKind::Close
                : verb == "drop"    ? SimStepKind::Drop
                : verb == "restart" ? SimStepKind::Restart
                                    : SimStepKind::LeaveChannel;
    ok = w.size() == 1;
  } else if (verb == "stall") {
    step.kind = SimStepKind::Stall;
    ok = w.size() == 2 && w[1].find_first_not_of("0123456789") == std::string::npos;
    if (ok) step.target = w[1];
  } else if (verb == "ping" || verb == "raw" || verb == "cut_frame") {
    step.kind = verb == "ping" ? SimStepKind::Ping : verb == "raw" ? SimStepKind::Raw : SimStepKind::CutFrame;
    step.target = RestOfLine(line, 1);
  } else if (verb == "bytes") {
    step.kind = SimStepKind::Bytes;
    ok = w.size() == 2 && ParseHex(w[1], step.target);
  } else if (verb == "message") {
    step.kind = SimStepKind::Message;
    ok = w.size() >= 3;
    if (ok) {
      step.target = w[1];
      for (size_t i = 2; i < w.size(); ++i) step.text += (i > 2 ? " " : "") + w[i];
    }
  } else {
    Fail(error, "unknown step: " + verb);
    return std::nullopt;
  }
  if (!ok) {
    if (error && error->empty()) *error = "malformed step: " + line;
    return std::nullopt;
  }
  return step;
}

std::optional<SimScenario> ParseScenario(const std::string& text, std::string* error) {
  SimScenario scenario;
  scenario.localUser.id = "100000000000000001";
  scenario.localUser.username = "alice";
  bool inTimeline = false;
  uint32_t pendingDelay = 0;
  size_t start = 0;
  for (int lineNumber = 1; start <= text.size(); ++lineNumber) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A comment: a whole line, or the end of one that quotes nothing.
    size_t hash = line.find('#');
    if (hash != std::string::npos && (line.find('"') == std::string::npos ||
                                      line.find_first_not_of(' ') == hash))
      line.resize(hash);
    std::vector<std::string> w = SplitScenarioWords(line);
    if (w.empty()) continue;
    std::string where = "line " + std::to_string(lineNumber) + ": ";
    std::string problem;
    bool ok = true;
    if (inTimeline) {
      if (w[0] == "wait" && w.size() == 2) {
        pendingDelay += static_cast<uint32_t>(std::strtoul(w[1].c_str(), nullptr, 10));
      } else if (w[0] == "loop" && w.size() == 1) {
        scenario.loop = true;
      } else if (auto step = ParseScenarioStep(line, &problem)) {
        step->delayMs = pendingDelay;
        pendingDelay = 0;
        scenario.timeline.push_back(*step);
      } else {
        ok = false;
      }
    } else if (w[0] == "user") {
      ok = ParseMember(w, 1, scenario.localUser, &problem);
    } else if (w[0] == "channel" && w.size() >= 3) {
      SimChannel channel;
      channel.id = w[1];
      channel.name = w[2];
      channel.guildId = "200000000000000001";
      for (size_t i = 3; i < w.size(); ++i) {
        if (w[i].rfind("type=", 0) == 0) channel.type = std::atoi(w[i].c_str() + 5);
        else channel.guildId = w[i];
      }
      if (channel.type == 1 || channel.type == 3) channel.guildId.clear();
      scenario.channels.push_back(channel);
    } else if (w[0] == "application" && w.size() == 2) {
      scenario.applications.push_back(w[1]);
    } else if (w[0] == "redirect_uri" && w.size() == 2) {
      scenario.redirectUri = w[1] == "set";
      ok = w[1] == "set" || w[1] == "none";
    } else if (w[0] == "scopes" && w.size() == 2) {
      scenario.scopesApproved = w[1] == "approved";
      ok = w[1] == "approved" || w[1] == "unapproved";
    } else if (w[0] == "handshake_interval" && w.size() == 2) {
      scenario.handshakeIntervalMs = static_cast<uint32_t>(std::strtoul(w[1].c_str(), nullptr, 10));
    } else if (w[0] == "member" && !scenario.channels.empty()) {
      SimMember member;
      ok = ParseMember(w, 1, member, &problem);
      scenario.channels.back().members.push_back(member);
    } else if (w[0] == "select" && w.size() == 2) {
      scenario.selectedChannel = w[1];
      ok = scenario.FindChannel(w[1]) != nullptr;
      if (!ok) problem = "no such channel: " + w[1];
    } else if (w[0] == "authorize" && w.size() == 2) {
      scenario.authorize = w[1] == "deny" ? SimAuthorizeMode::Deny
                           : w[1] == "silent" ? SimAuthorizeMode::Silent
                                              : SimAuthorizeMode::Grant;
      ok = w[1] == "grant" || w[1] == "deny" || w[1] == "silent";
    } else if (w[0] == "authenticate" && w.size() == 2) {
      scenario.authenticate = w[1] == "reject" ? SimAuthenticateMode::Reject : SimAuthenticateMode::Accept;
      ok = w[1] == "accept" || w[1] == "reject";
    } else if (w[0] == "handshake" && w.size() == 2) {
      scenario.handshake = w[1] == "silent" ? SimHandshakeMode::Silent : SimHandshakeMode::Answer;
      ok = w[1] == "answer" || w[1] == "silent";
    } else if (w[0] == "timeline" && w.size() == 1) {
      inTimeline = true;
    } else {
      ok = false;
    }
    if (!ok) {
      if (error) *error = where + (problem.empty() ? "cannot read: " + line : problem);
      return std::nullopt;
    }
  }
  return scenario;
}
