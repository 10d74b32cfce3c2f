#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rpc/secret_redaction.h"
#include "rpc/voice_tracking.h"

namespace {

// Shapes as the Discord desktop client writes them.
std::string Element(const std::string& id, const std::string& username, const std::string& globalName,
                    const std::string& nick, const std::string& flags = "", bool bot = false,
                    const std::string& avatar = "null") {
  std::string voiceState = R"({"mute":false,"deaf":false,"self_mute":false,"self_deaf":false,"suppress":false})";
  if (!flags.empty()) voiceState = "{" + flags + R"(,"suppress":false})";
  return R"({"voice_state":)" + voiceState + R"(,"user":{"id":")" + id + R"(","username":)" + username +
         R"(,"discriminator":"0","global_name":)" + globalName + R"(,"avatar":)" + avatar + R"(,"bot":)" +
         (bot ? "true" : "false") + R"(,"flags":0,"premium_type":0},"nick":)" + nick +
         R"(,"volume":100,"mute":false,"pan":{"left":1.0,"right":1.0}})";
}

std::string Snapshot(const std::vector<std::string>& elements, const std::string& channelName = "General") {
  std::string states;
  for (const std::string& e : elements) states += (states.empty() ? "" : ",") + e;
  return R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","data":{"id":"300000000000000001","name":")" + channelName +
         R"(","type":2,"topic":"","bitrate":64000,"user_limit":0,"guild_id":"200000000000000001","position":0,"voice_states":[)" +
         states + R"(]},"evt":null,"nonce":"4"})";
}

std::string Event(const std::string& evt, const std::string& data) {
  return R"({"cmd":"DISPATCH","data":)" + data + R"(,"evt":")" + evt + R"(","nonce":null})";
}

std::string Speaking(const std::string& evt, const std::string& userId) {
  return Event(evt, R"({"channel_id":"300000000000000001","user_id":")" + userId + R"("})");
}

std::vector<std::wstring> Ids(const std::vector<VoiceUser>& users) {
  std::vector<std::wstring> ids;
  for (const VoiceUser& u : users) ids.push_back(u.id + (u.speaking ? L"+" : L"") + (u.muted ? L"m" : L"") +
                                                 (u.deafened ? L"d" : L""));
  return ids;
}

}  // namespace

TEST(ParseVoiceSnapshot, StatusByAnswerShape) {
  struct Case {
    std::string payload;
    SnapshotStatus status;
    std::string errorCode;
    std::string channelId;
  };
  const Case cases[] = {
      {R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","data":null,"evt":null,"nonce":"4"})", SnapshotStatus::NotInChannel,
       "", ""},
      {R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","data":{"code":4006,"message":"Not authenticated or invalid scope"},"evt":"ERROR","nonce":"4"})",
       SnapshotStatus::ErrorCode, "4006", ""},
      {R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","evt":null,"nonce":"4"})", SnapshotStatus::NoData, "", ""},
      {R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","data":{"id":"31","name":"Lobby"},"evt":null})",
       SnapshotStatus::NoVoiceStates, "", "31"},
      {R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","data":{"id":"32","voice_states":null},"evt":null})",
       SnapshotStatus::NoMemberArray, "", "32"},
      {Snapshot({}), SnapshotStatus::Members, "", "300000000000000001"},
      // A channel named "code" is a channel, not an error answer.
      {Snapshot({Element("1", R"("code")", "null", "null")}, "code"), SnapshotStatus::Members, "",
       "300000000000000001"},
  };
  for (const Case& c : cases) {
    VoiceSnapshot snapshot = ParseVoiceSnapshot(c.payload);
    EXPECT_EQ(snapshot.status, c.status) << c.payload;
    EXPECT_EQ(snapshot.errorCode, c.errorCode) << c.payload;
    EXPECT_EQ(snapshot.channelId, c.channelId) << c.payload;
  }
}

TEST(ParseVoiceSnapshot, BuildsMembersInArrayOrder) {
  const std::string compactSelfMute = R"("mute":false,"deaf":false,"self_mute":true,"self_deaf":false)";
  VoiceSnapshot snapshot = ParseVoiceSnapshot(Snapshot({
      Element("2", R"("bob")", R"("Bob")", R"("Bobby")", compactSelfMute, false, R"("0123abcd")"),
      Element("3", R"("carol")", R"("Carol")", "null"),
      Element("4", R"("")", "null", "null", R"("mute":false,"deaf":true,"self_mute":false,"self_deaf":false)"),
      Element("5", R"("dj")", "null", "null", R"("mute": true,"deaf": true,"self_mute":false,"self_deaf":false)", true),
      R"({"voice_state":{},"nick":"ghost"})",
      Element("", R"("noid")", "null", "null"),
      Element("9", std::string("\"") + '\0' + "bob\"", "null", "null"),
      Element("3", R"("carol")", R"("Carol")", "null"),
  }));
  ASSERT_EQ(snapshot.status, SnapshotStatus::Members);
  // Spaced flags are not the compact form Discord writes; duplicates stay.
  EXPECT_EQ(Ids(snapshot.users), (std::vector<std::wstring>{L"2m", L"3", L"4d", L"5", L"9", L"3"}));
  const VoiceUser& bob = snapshot.users[0];
  EXPECT_EQ(bob.username, L"bob");
  EXPECT_EQ(bob.displayName, L"Bobby");  // the nick wins over the global name
  EXPECT_EQ(bob.avatarHash, L"0123abcd");
  EXPECT_EQ(snapshot.users[1].displayName, L"Carol");
  EXPECT_EQ(snapshot.users[2].username, L"Unknown");
  EXPECT_EQ(snapshot.users[4].username, L"Unknown");  // bytes that convert to nothing
  EXPECT_TRUE(snapshot.users[3].bot && !bob.bot);
}

TEST(ApplyVoiceEvent, ChangesTheList) {
  struct Case {
    std::string payload;
    bool notify;
    std::vector<std::wstring> ids;  // id, "+" speaking, "m" muted, "d" deafened
  };
  const std::string deafMuted = R"("mute":false,"deaf":false,"self_mute":true,"self_deaf":true)";
  const Case cases[] = {
      {Speaking("SPEAKING_START", "1"), true, {L"1+", L"2+", L"3"}},
      {Speaking("SPEAKING_STOP", "2"), true, {L"1", L"2", L"3"}},
      // An id not in the list changes nothing, but the overlay still hears.
      {Speaking("SPEAKING_START", "99"), true, {L"1", L"2+", L"3"}},
      {R"({"cmd":"DISPATCH","data":{"channel_id":"3"},"evt":"SPEAKING_START","user_id":"1"})", true, {L"1+", L"2+", L"3"}},
      {Event("SPEAKING_START", R"({"channel_id":"3"})"), false, {L"1", L"2+", L"3"}},
      {Event("VOICE_STATE_DELETE", Element("2", R"("b")", "null", "null")), true, {L"1", L"3"}},
      {Event("VOICE_STATE_DELETE", Element("9", R"("z")", "null", "null")), true, {L"1", L"2+", L"3"}},
      {Event("VOICE_STATE_UPDATE", Element("5", R"("eve")", "null", "null", deafMuted)), true,
       {L"1", L"2+", L"3", L"5md"}},
      {Event("VOICE_STATE_UPDATE", Element("1", R"("a2")", "null", "null", deafMuted)), true, {L"1md", L"2+", L"3"}},
      // Without the nested user the data's own user_id names the member.
      {Event("VOICE_STATE_UPDATE", R"({"user_id":"3","self_mute":true})"), true, {L"1", L"2+", L"3m"}},
      {Event("VOICE_STATE_UPDATE", R"({"self_mute":true})"), false, {L"1", L"2+", L"3"}},
      {R"({"cmd":"DISPATCH","data":null,"evt":"VOICE_STATE_DELETE"})", false, {L"1", L"2+", L"3"}},
  };
  for (const Case& c : cases) {
    std::vector<VoiceUser> users(3);
    for (int i = 0; i < 3; ++i) {
      users[i].id = std::to_wstring(i + 1);
      users[i].username = L"n";
      users[i].displayName = L"D";
    }
    users[1].speaking = true;
    std::vector<std::string> log;
    EXPECT_EQ(ApplyVoiceEvent(c.payload, users, [&](const std::string& l) { log.push_back(l); }), c.notify) << c.payload;
    EXPECT_EQ(Ids(users), c.ids) << c.payload;
    // Events fill only what they carry: names from a snapshot stay.
    EXPECT_EQ(users[0].displayName, L"D") << c.payload;
  }
}

TEST(RedactTokenValues, HidesTokensKeepsTheRest) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {R"({"token_type":"Bearer","access_token":"abcDEF123","expires_in":604800,"refresh_token":"ghiJKL","scope":"rpc"})",
       R"({"token_type":"Bearer","access_token":"[redacted]","expires_in":604800,"refresh_token":"[redacted]","scope":"rpc"})"},
      // Discord's API writes a space after the colon.
      {R"({"access_token": "abc", "x": 1})", R"({"access_token": "[redacted]", "x": 1})"},
      // An excerpt that ends inside the value.
      {R"({"token_type":"Bearer","access_token":"abcDEF)", R"({"token_type":"Bearer","access_token":"[redacted])"},
      {R"({"access_token":"a\"b","n":1})", R"({"access_token":"[redacted]","n":1})"},
      {R"({"access_token":null})", R"({"access_token":null})"},
      {R"({"error":"invalid_grant","error_description":"Invalid \"code\" in request."})",
       R"({"error":"invalid_grant","error_description":"Invalid \"code\" in request."})"},
      {R"(["access_token","x"])", R"(["access_token","x"])"},
      {R"({"a":{"access_token":"1"},"b":{"access_token":"2"}})",
       R"({"a":{"access_token":"[redacted]"},"b":{"access_token":"[redacted]"}})"},
      {"<html>502 Bad Gateway</html>", "<html>502 Bad Gateway</html>"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(RedactTokenValues(c.text), c.expected) << c.text;
}
