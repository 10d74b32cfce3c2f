#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rpc/secret_redaction.h"
#include "rpc/voice_tracking.h"

namespace {

// A voice_states element as the Discord desktop client writes it.
std::string Element(const std::string& id, const std::string& username, const std::string& flags = "",
                    const std::string& names = R"("global_name":null},"nick":null)") {
  return R"({"voice_state":{)" + (flags.empty() ? R"("mute":false,"deaf":false,"self_mute":false)" : flags) +
         R"(,"suppress":false},"user":{"id":")" + id + R"(","username":)" + username + "," + names + "}";
}

std::string Event(const std::string& evt, const std::string& data) {
  return R"({"cmd":"DISPATCH","data":)" + data + R"(,"evt":")" + evt + R"(","nonce":null})";
}

// id, then "+" speaking, "m" muted, "d" deafened, "b" bot, then "=" username "/" display name.
std::vector<std::wstring> Summary(const std::vector<VoiceUser>& users) {
  std::vector<std::wstring> out;
  for (const VoiceUser& u : users)
    out.push_back(u.id + (u.speaking ? L"+" : L"") + (u.muted ? L"m" : L"") + (u.deafened ? L"d" : L"") +
                  (u.bot ? L"b" : L"") + L"=" + u.username + L"/" + u.displayName);
  return out;
}

}  // namespace

TEST(ParseVoiceSnapshot, StatusAndMembersByAnswerShape) {
  const std::string head = R"({"cmd":"GET_SELECTED_VOICE_CHANNEL","data":{"id":"30","name":)";
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
      // A channel and a member named "code" are no error answer; elements
      // without an id are skipped, duplicates stay, a nick beats the global name.
      {head + R"("code","voice_states":[)" + Element("1", R"("code")") + "," +
           Element("2", R"("bob")", R"("mute":false,"deaf":false,"self_mute":true)",
                   R"("global_name":"Bob","bot":false},"nick":"Bobby")") +
           "," + R"({"voice_state":{},"nick":"ghost"})" + "," + Element("", R"("noid")") + "," +
           Element("4", R"("")", R"("mute":false,"deaf":true,"self_mute":false)") + "," +
           Element("5", R"("dj")", R"("mute": true,"deaf": true,"self_mute":false)",
                   R"("global_name":"DJ","bot":true},"nick":null)") +
           "," + Element("9", std::string("\"") + '\0' + "bob\"") + "," + Element("1", R"("code")") + "]}}",
       SnapshotStatus::Members, "",
       // Spaced flags are not the compact form Discord writes.
       {L"1=code/", L"2m=bob/Bobby", L"4d=Unknown/", L"5b=dj/DJ", L"9=Unknown/", L"1=code/"}},
  };
  for (const Case& c : cases) {
    VoiceSnapshot snapshot = ParseVoiceSnapshot(c.payload);
    EXPECT_EQ(snapshot.status, c.status) << c.payload;
    EXPECT_EQ(snapshot.errorCode, c.errorCode) << c.payload;
    EXPECT_EQ(Summary(snapshot.users), c.users) << c.payload;
  }
}

TEST(ApplyVoiceEvent, ChangesTheList) {
  const std::string deafMuted = R"("mute":false,"deaf":false,"self_mute":true,"self_deaf":true)";
  const auto speaking = [](const char* evt, const char* id) {
    return Event(evt, R"({"channel_id":"3","user_id":")" + std::string(id) + R"("})");
  };
  struct Case {
    std::string payload;
    bool notify;
    std::vector<std::wstring> users;
  };
  const Case cases[] = {
      {speaking("SPEAKING_START", "1"), true, {L"1+=n/D", L"2+=n/D", L"3=n/D"}},
      {speaking("SPEAKING_STOP", "2"), true, {L"1=n/D", L"2=n/D", L"3=n/D"}},
      // An id not in the list changes nothing, but the overlay still hears.
      {speaking("SPEAKING_START", "99"), true, {L"1=n/D", L"2+=n/D", L"3=n/D"}},
      {Event("SPEAKING_START", R"({"channel_id":"3"})"), false, {L"1=n/D", L"2+=n/D", L"3=n/D"}},
      {Event("VOICE_STATE_DELETE", Element("2", R"("b")")), true, {L"1=n/D", L"3=n/D"}},
      {Event("VOICE_STATE_UPDATE", Element("5", R"("eve")", deafMuted)), true,
       {L"1=n/D", L"2+=n/D", L"3=n/D", L"5md=eve/"}},
      // Events fill only what they carry: names from a snapshot stay.
      {Event("VOICE_STATE_UPDATE", Element("1", R"("a2")", deafMuted)), true, {L"1md=a2/D", L"2+=n/D", L"3=n/D"}},
      // Without the nested user the data's own user_id names the member.
      {Event("VOICE_STATE_UPDATE", R"({"user_id":"3","self_mute":true})"), true, {L"1=n/D", L"2+=n/D", L"3m=n/D"}},
  };
  for (const Case& c : cases) {
    std::vector<VoiceUser> users(3);
    for (int i = 0; i < 3; ++i) {
      users[i].id = std::to_wstring(i + 1);
      users[i].username = L"n";
      users[i].displayName = L"D";
    }
    users[1].speaking = true;
    EXPECT_EQ(ApplyVoiceEvent(c.payload, users, [](const std::string&) {}), c.notify) << c.payload;
    EXPECT_EQ(Summary(users), c.users) << c.payload;
  }
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
}
