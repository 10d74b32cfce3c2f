#include <gtest/gtest.h>

#include <string>
#include <vector>

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

VoiceUser Member(const wchar_t* id, const wchar_t* name) {
  VoiceUser user;
  user.id = id;
  user.username = name;
  return user;
}

std::vector<std::wstring> Ids(const std::vector<VoiceUser>& users) {
  std::vector<std::wstring> ids;
  for (const VoiceUser& u : users) ids.push_back(u.id);
  return ids;
}

struct LogCapture {
  std::vector<std::string> lines;
  VoiceLog sink() {
    return [this](const std::string& line) { lines.push_back(line); };
  }
};

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
  std::string payload = Snapshot({
      Element("100000000000000002", R"("bob")", R"("Bob")", R"("Bobby")",
              R"("mute":false,"deaf":false,"self_mute":true,"self_deaf":false)", false,
              R"("0123456789abcdef0123456789abcdef")"),
      Element("100000000000000003", R"("carol")", R"("Carol")", "null"),
      Element("100000000000000004", R"("")", "null", "null", R"("mute":false,"deaf":true,"self_mute":false,"self_deaf":false)"),
      Element("100000000000000005", R"("dj")", "null", "null", "", true),
      R"({"voice_state":{},"nick":"ghost"})",
      Element("", R"("noid")", "null", "null"),
      Element("100000000000000003", R"("carol")", R"("Carol")", "null"),
  });
  VoiceSnapshot snapshot = ParseVoiceSnapshot(payload);
  ASSERT_EQ(snapshot.status, SnapshotStatus::Members);
  ASSERT_EQ(snapshot.users.size(), 5u);
  const VoiceUser& bob = snapshot.users[0];
  EXPECT_EQ(bob.id, L"100000000000000002");
  EXPECT_EQ(bob.username, L"bob");
  EXPECT_EQ(bob.displayName, L"Bobby");  // the nick wins over the global name
  EXPECT_EQ(bob.avatarHash, L"0123456789abcdef0123456789abcdef");
  EXPECT_TRUE(bob.muted);
  EXPECT_FALSE(bob.deafened);
  EXPECT_EQ(snapshot.users[1].displayName, L"Carol");
  EXPECT_EQ(snapshot.users[1].avatarHash, L"");
  EXPECT_EQ(snapshot.users[2].username, L"Unknown");
  EXPECT_EQ(snapshot.users[2].displayName, L"");
  EXPECT_TRUE(snapshot.users[2].deafened);
  EXPECT_TRUE(snapshot.users[3].bot);
  EXPECT_FALSE(snapshot.users[0].bot);
  // Duplicates stay.
  EXPECT_EQ(snapshot.users[4].id, L"100000000000000003");
  for (const VoiceUser& u : snapshot.users) {
    EXPECT_FALSE(u.speaking);
    EXPECT_EQ(u.joinTick, 0u);
  }
}

TEST(ParseVoiceState, FlagFragmentsMustBeCompact) {
  struct Case {
    std::string flags;
    bool muted;
    bool deafened;
  };
  const Case cases[] = {
      {R"("mute":true,"deaf":false,"self_mute":false,"self_deaf":false)", true, false},
      {R"("mute":false,"deaf":false,"self_mute":false,"self_deaf":true)", false, true},
      {R"("mute": true,"deaf": true,"self_mute":false,"self_deaf":false)", false, false},
      {R"("mute":false,"deaf":false,"self_mute":false,"self_deaf":false)", false, false},
  };
  for (const Case& c : cases) {
    auto member = ParseVoiceState(Element("7", R"("x")", "null", "null", c.flags));
    ASSERT_TRUE(member);
    EXPECT_EQ(member->muted, c.muted) << c.flags;
    EXPECT_EQ(member->deafened, c.deafened) << c.flags;
  }
}

TEST(ParseVoiceState, NameOfBytesThatConvertToNothingIsUnknown) {
  auto member = ParseVoiceState(Element("9", std::string("\"") + '\0' + "bob\"", "null", "null"));
  ASSERT_TRUE(member);
  EXPECT_EQ(member->username, L"Unknown");
}

TEST(CarrySpeakingFlags, KeepsSpeakingAcrossSnapshots) {
  std::vector<VoiceUser> previous = {Member(L"1", L"a"), Member(L"2", L"b"), Member(L"2", L"b2")};
  previous[1].speaking = true;
  std::vector<VoiceUser> fresh = {Member(L"3", L"c"), Member(L"2", L"b"), Member(L"1", L"a")};
  fresh[0].speaking = true;  // whatever a parser left, a new member takes no old flag
  CarrySpeakingFlags(previous, fresh);
  EXPECT_TRUE(fresh[0].speaking);
  EXPECT_TRUE(fresh[1].speaking);  // the first old entry with id 2 decides
  EXPECT_FALSE(fresh[2].speaking);
}

TEST(AddedUserMessage, NamesAndBotMark) {
  VoiceUser user = Member(L"1", L"alice");
  EXPECT_EQ(AddedUserMessage(user), "Added user: alice");
  user.displayName = L"\u30a2\u30ea\u30b9";
  user.bot = true;
  EXPECT_EQ(AddedUserMessage(user), "Added user: \xe3\x82\xa2\xe3\x83\xaa\xe3\x82\xb9 [BOT]");
}

TEST(ApplyVoiceEvent, Speaking) {
  struct Case {
    std::string payload;
    bool notify;
    bool firstSpeaking;
    size_t logLines;
  };
  const Case cases[] = {
      {Speaking("SPEAKING_START", "1"), true, true, 3},
      {Speaking("SPEAKING_STOP", "1"), true, false, 3},
      // An id not in the list changes nothing but the overlay still hears.
      {Speaking("SPEAKING_START", "99"), true, false, 2},
      {Event("SPEAKING_START", R"({"channel_id":"3"})"), false, false, 2},
      {R"({"cmd":"DISPATCH","data":{"channel_id":"3"},"evt":"SPEAKING_START","user_id":"1"})", true, true, 3},
      {R"({"cmd":"DISPATCH","evt":"SPEAKING_START"})", false, false, 0},
  };
  for (const Case& c : cases) {
    std::vector<VoiceUser> users = {Member(L"1", L"a"), Member(L"2", L"b")};
    LogCapture log;
    EXPECT_EQ(ApplyVoiceEvent(c.payload, users, log.sink()), c.notify) << c.payload;
    EXPECT_EQ(users[0].speaking, c.firstSpeaking) << c.payload;
    EXPECT_FALSE(users[1].speaking);
    ASSERT_EQ(log.lines.size(), c.logLines) << c.payload;
    if (c.logLines > 0) {
      EXPECT_EQ(log.lines[0].rfind("Speaking FULL JSON: {", 0), 0u);
    }
  }
  std::vector<VoiceUser> users = {Member(L"1", L"a")};
  LogCapture log;
  ApplyVoiceEvent(Speaking("SPEAKING_START", "1"), users, log.sink());
  EXPECT_EQ(log.lines[1], "Speaking event: SPEAKING_START user_id=1");
  EXPECT_EQ(log.lines[2], "Updated speaking state for user: 1 = true");
}

TEST(ApplyVoiceEvent, DeleteKeepsOrderOfTheOthers) {
  std::vector<VoiceUser> users = {Member(L"1", L"a"), Member(L"2", L"b"), Member(L"3", L"c")};
  LogCapture log;
  EXPECT_TRUE(ApplyVoiceEvent(Event("VOICE_STATE_DELETE", Element("2", R"("b")", "null", "null")), users, log.sink()));
  EXPECT_EQ(Ids(users), (std::vector<std::wstring>{L"1", L"3"}));
  EXPECT_TRUE(ApplyVoiceEvent(Event("VOICE_STATE_DELETE", Element("9", R"("z")", "null", "null")), users, log.sink()));
  EXPECT_EQ(Ids(users), (std::vector<std::wstring>{L"1", L"3"}));
  EXPECT_TRUE(log.lines.empty());
}

TEST(ApplyVoiceEvent, UpdateAppendsUnknownAndChangesKnown) {
  std::vector<VoiceUser> users = {Member(L"1", L"a")};
  users[0].displayName = L"Alice";
  users[0].avatarHash = L"hash";
  users[0].speaking = true;
  users[0].bot = true;
  LogCapture log;
  const std::string deafMuted = R"("mute":false,"deaf":false,"self_mute":true,"self_deaf":true)";
  EXPECT_TRUE(ApplyVoiceEvent(Event("VOICE_STATE_UPDATE", Element("5", R"("eve")", R"("Eve")", R"("E")", deafMuted)),
                              users, log.sink()));
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[1].id, L"5");
  EXPECT_EQ(users[1].username, L"eve");
  EXPECT_EQ(users[1].displayName, L"");  // only a snapshot fills the rest
  EXPECT_EQ(users[1].avatarHash, L"");
  EXPECT_TRUE(users[1].muted);
  EXPECT_TRUE(users[1].deafened);

  EXPECT_TRUE(ApplyVoiceEvent(Event("VOICE_STATE_UPDATE", Element("1", R"("a2")", "null", "null", deafMuted)), users,
                              log.sink()));
  EXPECT_EQ(users[0].username, L"a2");
  EXPECT_TRUE(users[0].muted && users[0].deafened);
  EXPECT_EQ(users[0].displayName, L"Alice");
  EXPECT_EQ(users[0].avatarHash, L"hash");
  EXPECT_TRUE(users[0].speaking && users[0].bot);

  // CREATE for a known id updates it rather than adding a twin.
  EXPECT_TRUE(ApplyVoiceEvent(Event("VOICE_STATE_CREATE", Element("1", R"("a2")", "null", "null")), users, log.sink()));
  EXPECT_EQ(users.size(), 2u);
  EXPECT_FALSE(users[0].muted);
}

TEST(ApplyVoiceEvent, MemberIdSources) {
  std::vector<VoiceUser> users = {Member(L"1", L"a")};
  LogCapture log;
  // Without the nested user the data's own user_id names the member; the
  // name it had stays.
  EXPECT_TRUE(ApplyVoiceEvent(Event("VOICE_STATE_UPDATE", R"({"user_id":"1","self_mute":true})"), users, log.sink()));
  EXPECT_EQ(users[0].username, L"a");
  EXPECT_TRUE(users[0].muted);
  EXPECT_FALSE(ApplyVoiceEvent(Event("VOICE_STATE_UPDATE", R"({"self_mute":true})"), users, log.sink()));
  EXPECT_FALSE(ApplyVoiceEvent(Event("VOICE_STATE_CREATE", R"({"user":{"id":""}})"), users, log.sink()));
  EXPECT_FALSE(ApplyVoiceEvent(R"({"cmd":"DISPATCH","data":null,"evt":"VOICE_STATE_DELETE"})", users, log.sink()));
  EXPECT_EQ(users.size(), 1u);
}

TEST(ParseMessageCreate, NeedsAuthorAndText) {
  auto message = ParseMessageCreate(Event(
      "MESSAGE_CREATE",
      R"({"channel_id":"3","message":{"id":"9","content":"hi \"there\"","author":{"id":"2","username":"bob"}}})"));
  ASSERT_TRUE(message);
  EXPECT_EQ(message->author, "bob");
  EXPECT_EQ(message->text, R"(hi \"there\")");
  EXPECT_FALSE(ParseMessageCreate(Event("MESSAGE_CREATE", R"({"content":"","author":{"username":"bob"}})")));
  EXPECT_FALSE(ParseMessageCreate(Event("MESSAGE_CREATE", R"({"content":"hi","author":{"id":"2"}})")));
  EXPECT_FALSE(ParseMessageCreate(R"({"evt":"MESSAGE_CREATE","content":"hi"})"));
}

TEST(SnapshotDue, EveryThirtiethThenEveryHundredFiftieth) {
  std::vector<uint64_t> due;
  for (uint64_t count = 1; count <= 900; ++count)
    if (SnapshotDue(count)) due.push_back(count);
  EXPECT_EQ(due, (std::vector<uint64_t>{30, 60, 90, 120, 150, 180, 210, 240, 270, 300, 450, 600, 750, 900}));
}
