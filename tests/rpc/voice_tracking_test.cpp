#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "rpc/rpc_commands.h"
#include "rpc/rpc_messages.h"
#include "rpc/secret_redaction.h"
#include "rpc/voice_tracking.h"

namespace {

// A voice_states element as the Discord desktop client writes it: nick, the
// local mute, volume, pan, voice_state, user.
std::string Element(const std::string& id, const std::string& username, const std::string& flags = "",
                    const std::string& nick = "null", const std::string& user = R"("global_name":null)",
                    const std::string& localMute = "false") {
  return R"({"nick":)" + nick + R"(,"mute":)" + localMute + R"(,"volume":100,"pan":{"left":1,"right":1},)" +
         R"("voice_state":{)" + (flags.empty() ? R"("mute":false,"deaf":false,"self_mute":false)" : flags) +
         R"(,"suppress":false},"user":{"id":")" + id + R"(","username":)" + username + "," + user + "}}";
}

Json Message(const std::string& text) {
  auto parsed = ParseJson(text);
  EXPECT_TRUE(parsed) << text;
  return parsed.value_or(Json());
}

Json Event(const std::string& evt, const std::string& data) {
  return Message(R"({"cmd":"DISPATCH","data":)" + data + R"(,"evt":")" + evt + R"(","nonce":null})");
}

// id, then "+" speaking, "m" muted, "d" deafened, "~" muted for the user,
// "b" bot, then "=" username "/" display name, then "@" avatar when there is one.
std::vector<std::wstring> Summary(const std::vector<VoiceUser>& users) {
  std::vector<std::wstring> out;
  for (const VoiceUser& u : users)
    out.push_back(std::wstring(u.id.begin(), u.id.end()) + (u.speaking ? L"+" : L"") + (u.muted ? L"m" : L"") +
                  (u.deafened ? L"d" : L"") + (u.localMute ? L"~" : L"") +
                  (u.bot ? L"b" : L"") + L"=" + u.username + L"/" + u.displayName +
                  (u.avatarHash.empty() ? L"" : L"@" + u.avatarHash));
  return out;
}

}  // namespace

TEST(ParseVoiceSnapshot, StatusAndMembersByAnswerShape) {
  const std::string head = R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","data":{"id":"30","type":2,"name":)";
  struct Case {
    std::string payload;
    SnapshotStatus status;
    std::string errorCode;
    std::vector<std::wstring> users;
  };
  const Case cases[] = {
      {R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","data":null,"evt":null})", SnapshotStatus::NotInChannel, "", {}},
      {R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","data":{"code":4006,"message":"Not authenticated"},"evt":"ERROR"})",
       SnapshotStatus::ErrorCode, "4006", {}},
      {R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","evt":null,"nonce":"4"})", SnapshotStatus::NoData, "", {}},
      {head + R"("Lobby"},"evt":null})", SnapshotStatus::NoVoiceStates, "", {}},
      {head + R"("Lobby","voice_states":null},"evt":null})", SnapshotStatus::NoMemberArray, "", {}},
      // Names hold what JSON allows, escapes decoded; a channel and a member
      // named "code" are no error answer; elements without an id are skipped,
      // duplicates stay; nick beats the global name.
      {head + R"("code","voice_states":[)" + Element("1", R"("code")", "", R"("x]")") + "," +
           Element("2", R"("bob")", "", R"("Bob}")", R"("global_name":"Bob","avatar":"b0b","bot":false)") + "," +
           Element("3", R"("user")", "", R"("user")") + "," +
           Element("4", R"("ann")", "", R"("Ann \"the tank\" \u00e9\ud83c\udfb5 a\\b")") + "," +
           R"({"voice_state":{},"nick":"ghost"})" + "," + Element("", R"("noid")") + "," +
           Element("5", R"("")", "", "null", R"("global_name":"DJ","bot":true)") + "," +
           Element("9", R"("\u0000bob")") + "," + Element("1", R"("code")", "", R"("x]")") + "]}}",
       SnapshotStatus::Members, "",
       {L"1=code/x]", L"2=bob/Bob}@b0b", L"3=user/user", L"4=ann/Ann \"the tank\" \u00e9\xD83C\xDFB5 a\\b",
        L"5b=Unknown/DJ", L"9=Unknown/", L"1=code/x]"}},
      // Mute as Discord means it: server or self; the element's top-level
      // "mute" is the user's own mute of the member, a badge of its own.
      {head + R"("Lobby","voice_states":[)" +
           Element("1", R"("a")", R"("mute":false,"deaf":false,"self_mute":false)", "null", R"("global_name":null)",
                   "true") + "," +
           Element("2", R"("b")", R"("mute":true,"deaf":false,"self_mute":false)") + "," +
           Element("3", R"("c")", R"("mute":false,"deaf":false,"self_mute":true,"self_deaf":true)") + "," +
           Element("4", R"("d")", R"("mute":false,"deaf":true,"self_mute":false)") + "]}}",
       SnapshotStatus::Members, "", {L"1~=a/", L"2m=b/", L"3md=c/", L"4d=d/"}},
  };
  for (const Case& c : cases) {
    VoiceSnapshot snapshot = ParseVoiceSnapshot(Message(c.payload));
    EXPECT_EQ(snapshot.status, c.status) << c.payload;
    EXPECT_EQ(snapshot.errorCode, c.errorCode) << c.payload;
    EXPECT_EQ(Summary(snapshot.users), c.users) << c.payload;
  }
  const auto call = ParseVoiceSnapshot(Message(R"({"data":{"id":"31","type":1,"voice_states":[]}})"));
  EXPECT_TRUE(call.channelId == "31" && IsPrivateCall(call.channelType));
  EXPECT_FALSE(IsPrivateCall(ParseVoiceSnapshot(Message(head + R"("L","voice_states":[]}})")).channelType));
}

TEST(ApplyVoiceEvent, ChangesTheList) {
  const std::string serverMuted = R"("mute":true,"deaf":false,"self_mute":false,"self_deaf":false)";
  const auto speaking = [](const char* evt, const char* id, const char* channel = "30") {
    return Event(evt, R"({"channel_id":")" + std::string(channel) + R"(","user_id":")" + id + R"("})");
  };
  struct Case {
    Json message;
    std::string channel;
    bool notify;
    std::vector<std::wstring> users;
  };
  const std::vector<std::wstring> unchanged = {L"1=n/D", L"2+=n/D", L"3m=n/D"};
  const Case cases[] = {
      {speaking("SPEAKING_START", "1"), "30", true, {L"1+=n/D", L"2+=n/D", L"3m=n/D"}},
      {speaking("SPEAKING_STOP", "2"), "30", true, {L"1=n/D", L"2=n/D", L"3m=n/D"}},
      // An id not in the list changes nothing, but the overlay still hears.
      {speaking("SPEAKING_START", "99"), "30", true, unchanged},
      {Event("SPEAKING_START", R"({"channel_id":"30"})"), "30", false, unchanged},
      // A channel left behind, or none selected: nothing applies.
      {speaking("SPEAKING_START", "1", "31"), "30", false, unchanged},
      {speaking("SPEAKING_START", "1"), "", false, unchanged},
      {Event("VOICE_STATE_CREATE", Element("5", R"("eve")")), "", false, unchanged},
      {Event("VOICE_STATE_DELETE", Element("2", R"("b")")), "30", true, {L"1=n/D", L"3m=n/D"}},
      // A member who joins has a name and an avatar at once.
      {Event("VOICE_STATE_CREATE", Element("5", R"("eve")", serverMuted, R"("Eve]")",
                                           R"("global_name":"E","avatar":"e5e","bot":true)")),
       "30", true, {L"1=n/D", L"2+=n/D", L"3m=n/D", L"5mb=eve/Eve]@e5e"}},
      // An update carries the whole member; the server mute stays whatever
      // the local mute says, and speaking is the events' own.
      {Event("VOICE_STATE_UPDATE", Element("3", R"("n2")", serverMuted, R"("Nick")", R"("global_name":null)", "false")),
       "30", true, {L"1=n/D", L"2+=n/D", L"3m=n2/Nick"}},
      {Event("VOICE_STATE_UPDATE", Element("2", R"("n")", "", "null", R"("global_name":null)", "true")), "30", true,
       {L"1=n/D", L"2+~=n/", L"3m=n/D"}},
      // Without the nested user the data's own user_id names the member, and
      // what the event leaves out stays.
      {Event("VOICE_STATE_UPDATE", R"({"user_id":"1","voice_state":{"self_deaf":true}})"), "30", true,
       {L"1d=n/D", L"2+=n/D", L"3m=n/D"}},
  };
  for (const Case& c : cases) {
    std::vector<VoiceUser> users(3);
    for (int i = 0; i < 3; ++i) {
      users[i].id = std::to_string(i + 1);
      users[i].username = L"n";
      users[i].displayName = L"D";
    }
    users[1].speaking = true;
    users[2].muted = true;
    SpeakingChange spoken;
    EXPECT_EQ(ApplyVoiceEvent(c.message, c.channel, users, [](const std::string&) {}, &spoken), c.notify) << c.message;
    EXPECT_EQ(Summary(users), c.users) << c.message;
    // A speaking event that applied names its member and flag; no other does.
    const std::string evt = JsonString(c.message, "evt");
    const bool speakingEvent = c.notify && evt.rfind("SPEAKING_", 0) == 0;
    EXPECT_EQ(spoken.userId.empty(), !speakingEvent) << c.message;
    if (speakingEvent) {
      EXPECT_EQ(spoken.speaking, evt == "SPEAKING_START") << c.message;
    }
  }
}

// One connection's tracking: the commands it sends, the lists it hands on,
// and what a repeat of the known channel, a channel being switched to and a
// failed write leave out.
TEST(VoiceTracker, SubscriptionsSnapshotsAndEventsOfAConnection) {
  VoiceTracker voice;
  std::vector<std::string> sent;  // "cmd evt channel" of every command tried
  std::vector<std::vector<std::wstring>> lists;
  std::vector<std::string> spoken;
  int32_t nonce = 0;
  bool writable = true;
  voice.log = [](const std::string&) {};
  voice.nextNonce = [&] { return ++nonce; };
  voice.send = [&](const std::string& text) {
    const Json command = Message(text);
    const Json* args = JsonMember(command, "args");
    sent.push_back(JsonString(command, "cmd") + " " + JsonString(command, "evt") + " " +
                   (args ? JsonString(*args, "channel_id") : ""));
    return writable;
  };
  voice.publish = [&](const std::vector<VoiceUser>& users) { lists.push_back(Summary(users)); };
  voice.takeSpeaking = [&](const std::string& id, bool on) {
    spoken.push_back(id + (on ? "+" : "-"));
    return true;
  };
  auto taken = [&] { return std::exchange(sent, {}); };
  auto events = [](const char* cmd, const std::string& channel) {
    std::vector<std::string> five;
    for (const char* evt : kChannelEvents) five.push_back(std::string(cmd) + " " + evt + " " + channel);
    return five;
  };
  auto with = [](std::vector<std::string> first, const std::vector<std::string>& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
  };
  auto snapshot = [](const char* channel, int type, const std::string& members) {
    return Message(std::string(R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","data":{"id":")") + channel +
                   R"(","type":)" + std::to_string(type) + R"(,"voice_states":[)" + members + "]}}");
  };
  const std::string kAsk = "GET_SELECTED_VOICE_CHANNEL  ";
  const std::string members = Element("1", R"("a")") + "," + Element("2", R"("b")");
  constexpr uint32_t kNever = 0xFFFFFFFF;

  voice.Start(1000);
  EXPECT_EQ(taken(), (std::vector<std::string>{"SUBSCRIBE VOICE_CHANNEL_SELECT ", kAsk}));
  EXPECT_EQ(voice.MsUntilResync(1000), kNever) << "no snapshot yet";
  voice.OnSnapshot(snapshot("30", 2, members));
  EXPECT_EQ(taken(), events("SUBSCRIBE", "30"));
  EXPECT_EQ(lists, (std::vector<std::vector<std::wstring>>{{L"1=a/", L"2=b/"}}));
  EXPECT_EQ(voice.MsUntilResync(31000), 30000u);
  EXPECT_EQ(voice.MsUntilResync(61000), 0u);
  voice.OnVoiceEvent(Event("SPEAKING_START", R"({"channel_id":"30","user_id":"2"})"));
  EXPECT_EQ(spoken, std::vector<std::string>{"2+"});
  // The periodic resync repeats what is known: nothing handed on.
  voice.Resync(61000);
  voice.OnSnapshot(snapshot("30", 2, members));
  EXPECT_EQ(taken(), std::vector<std::string>{kAsk});
  EXPECT_EQ(lists.size(), 1u);
  // A switch leaves the old channel's events before it takes the new one's;
  // until its snapshot no event applies.
  voice.OnChannelSelected(Event("VOICE_CHANNEL_SELECT", R"({"channel_id":"31"})"), 62000);
  EXPECT_EQ(taken(), with(with(events("UNSUBSCRIBE", "30"), events("SUBSCRIBE", "31")), {kAsk}));
  voice.OnVoiceEvent(Event("VOICE_STATE_CREATE", Element("5", R"("eve")")));
  EXPECT_EQ(lists.size(), 1u);
  // A call: the speaking flag carried over, and no resync.
  voice.OnSnapshot(snapshot("31", 1, Element("2", R"("b")")));
  EXPECT_EQ(lists.back(), std::vector<std::wstring>{L"2+=b/"});
  EXPECT_EQ(voice.MsUntilResync(200000), kNever);
  // A lost connection ends every speaking flag and forgets its subscriptions.
  voice.OnConnectionLost();
  EXPECT_EQ(lists.back(), std::vector<std::wstring>{L"2=b/"});
  voice.Start(300000);
  voice.OnSnapshot(snapshot("31", 1, Element("2", R"("b")")));
  EXPECT_EQ(taken(), with({"SUBSCRIBE VOICE_CHANNEL_SELECT ", kAsk}, events("SUBSCRIBE", "31")));
  // A write that fails ends the connection: nothing more is sent, nor
  // numbered, for its channel events.
  writable = false;
  voice.OnChannelSelected(Event("VOICE_CHANNEL_SELECT", R"({"channel_id":"32"})"), 301000);
  EXPECT_EQ(taken(), (std::vector<std::string>{"UNSUBSCRIBE VOICE_STATE_CREATE 31", kAsk}));
  EXPECT_EQ(nonce, 2 + 5 + 1 + 5 + 5 + 1 + 2 + 5 + 2);
}

TEST(ParseMessageCreate, NestedOrFlatEscapesDecoded) {
  const auto nested = ParseMessageCreate(Message(
      R"({"cmd":"DISPATCH","data":{"channel_id":"3","message":{"content":"a \"b\"","author":{"username":"x]"}}},"evt":"MESSAGE_CREATE"})"));
  ASSERT_TRUE(nested);
  EXPECT_TRUE(nested->author == "x]" && nested->text == "a \"b\"");
  EXPECT_TRUE(ParseMessageCreate(Message(R"({"data":{"content":"hi","author":{"username":"bob"}}})")));
  EXPECT_FALSE(ParseMessageCreate(Message(R"({"data":{"content":"","author":{"username":"bob"}}})")));
}

TEST(RpcMessages, TokenResponseCloseReasonAndErrors) {
  const struct {
    std::string body;
    const char* token;
    const char* error;
    const char* description;
  } tokens[] = {
      {R"({"token_type":"Bearer","access_token":"abc\/DEF","expires_in":604800})", "abc/DEF", "", ""},
      {R"({"error":"invalid_grant","error_description":"Invalid \"code\" in request."})", "", "invalid_grant",
       "Invalid \"code\" in request."},
      {"<html><body>502 Bad Gateway</body></html>", "", "", ""},
      {R"({"access_token":7})", "", "", ""},
  };
  for (const auto& c : tokens) {
    const TokenResponse response = ReadTokenResponse(c.body);
    EXPECT_EQ(response.accessToken, c.token) << c.body;
    EXPECT_EQ(response.error, c.error) << c.body;
    EXPECT_EQ(response.errorDescription, c.description) << c.body;
  }
  const RpcError close = ReadCloseReason(R"({"code":4000,"message":"Invalid Client ID"})");
  EXPECT_TRUE(close.code == 4000 && close.message == "Invalid Client ID");
  EXPECT_EQ(ReadCloseReason("bye").code, 0);
  const auto refused = ReadRpcError(Message(R"({"cmd":"AUTHENTICATE","data":{"code":4009,"message":"m"},"evt":"ERROR"})"));
  ASSERT_TRUE(refused);
  EXPECT_TRUE(refused->code == 4009 && refused->message == "m");
  EXPECT_FALSE(ReadRpcError(Message(R"({"cmd":"AUTHORIZE","data":{"code":"Ab12"},"evt":null})")));
  EXPECT_EQ(ReadUserId(Message(R"({"evt":"READY","data":{"v":1,"user":{"id":"100"}}})")), "100");
}

TEST(RedactTokenValues, HidesTokensKeepsTheRest) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"token_type":"Bearer","access_token":"abcDEF123","expires_in":604800,"refresh_token":"ghiJKL"})",
       R"({"token_type":"Bearer","access_token":"[redacted]","expires_in":604800,"refresh_token":"[redacted]"})"},
      // Discord's API writes a space after the colon.
      {R"({"access_token": "abc", "x": 1})", R"({"access_token": "[redacted]", "x": 1})"},
      // An excerpt that ends inside the value.
      {R"({"token_type":"Bearer","access_token":"abcDEF)", R"({"token_type":"Bearer","access_token":"[redacted])"},
      {R"({"access_token":"a\"b","n":1})", R"({"access_token":"[redacted]","n":1})"},
      {R"({"a":{"access_token":"1"},"b":{"access_token":"2"}})",
       R"({"a":{"access_token":"[redacted]"},"b":{"access_token":"[redacted]"}})"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(RedactTokenValues(text), expected) << text;
  // Known secrets wherever they stand; ones too short to tell from text stay.
  EXPECT_EQ(RedactSecrets("Invalid access token: Tok12345678 (Tok12345678)", {"Tok12345678", "", "s"}),
            "Invalid access token: [redacted] ([redacted])");
}
