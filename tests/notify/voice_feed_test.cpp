#include "notify/voice_feed.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A list part whose members are the given ids.
std::string ListText(int seq, int part, int parts, const std::vector<std::string>& ids,
                     const std::string& channel = R"({"id":"300","guild_id":"200","type":2,"name":"General"})") {
  std::string members;
  for (const std::string& id : ids) members += std::string(members.empty() ? "" : ",") + R"({"id":")" + id + R"("})";
  return R"({"kind":"voice","seq":)" + std::to_string(seq) + R"(,"part":)" + std::to_string(part) + R"(,"parts":)" +
         std::to_string(parts) + R"(,"channel":)" + channel + R"(,"self_id":"100","members":[)" + members + "]}";
}

// As the endpoints read it: parsed once, then read as the feed's.
std::optional<FeedMessage> ParseFeed(std::string_view text, std::string* error) {
  std::optional<Json> parsed = ParseJson(text, error);
  return parsed ? ReadFeedMessage(*parsed, text.size(), error) : std::nullopt;
}

std::string Field(const std::string& member) {
  return R"({"kind":"voice","seq":1,"part":0,"parts":1,"channel":{"id":"3"},"members":[)" + member + "]}";
}

}  // namespace

TEST(ReadFeedMessage, AcceptsTheFormatAndNamesWhatBreaksIt) {
  using Kind = FeedMessage::Kind;
  struct Case {
    std::string text;
    std::optional<Kind> kind;  // none: refused, with `error` in the reason
    std::string error;
  };
  const Case cases[] = {
      {ListText(4, 0, 1, {"100", "200"}), Kind::ListPart, ""},
      {R"({"kind":"voice","seq":5,"part":0,"parts":1,"channel":null,"self_id":"100","members":[]})", Kind::ListPart, ""},
      {R"({"kind":"voice","live":false})", Kind::End, ""},
      {R"({"kind":"speaking","user_id":"200","speaking":true})", Kind::Speaking, ""},
      {Field(R"({"id":"1","avatar":null,"guild_avatar":null,"bot":true})"), Kind::ListPart, ""},
      {R"({"kind":"member","seq":6,"op":"add","member":{"id":"7","live":true},"before":"2"})", Kind::MemberPut, ""},
      {R"({"kind":"member","seq":6,"op":"change","member":{"id":"7"},"before":null})", Kind::MemberPut, ""},
      {R"({"kind":"member","seq":6,"op":"remove","id":"7"})", Kind::MemberRemove, ""},
      {R"({"kind":"member","op":"remove","id":"7"})", std::nullopt, "member change: \"seq\" missing"},
      {R"({"kind":"member","seq":6,"op":"drop","id":"7"})", std::nullopt, "\"op\" is not add, change or remove"},
      {R"({"kind":"member","seq":6,"op":"add","before":null})", std::nullopt, "member change: \"member\" missing"},
      {R"({"kind":"member","seq":6,"op":"add","member":{"id":"7"},"before":7})", std::nullopt, "\"before\" is not a string"},
      {R"({"kind":"member","seq":6,"op":"change","member":{"id":"7","video":1}})", std::nullopt, "\"video\" is not true or false"},
      {R"({"kind":"member","seq":6,"op":"remove"})", std::nullopt, "member change: \"id\" missing"},
      // What the notification path would take is no feed message.
      {R"({"displayName":"Bob","content":"hi"})", std::nullopt, "no \"kind\""},
      {R"({"kind":"stream"})", std::nullopt, "unknown kind \"stream\""},
      {R"({"kind":"voice","live":true})", std::nullopt, "only ever false"},
      {"{\"kind\":\"voice\"", std::nullopt, "parse error"},
      {"{\"kind\":\"speaking\",\"user_id\":\"\xC3\x28\",\"speaking\":true}", std::nullopt, "parse error"},  // bad UTF-8
      {std::string(R"({"kind":"voice","live":false,"pad":")") + std::string(4100, 'x') + "\"}", std::nullopt,
       "more than 4096"},
      // Counters.
      {R"({"kind":"voice","part":0,"parts":1,"channel":null,"members":[]})", std::nullopt, "\"seq\" missing"},
      {R"({"kind":"voice","seq":-1,"part":0,"parts":1,"channel":null,"members":[]})", std::nullopt, "\"seq\" out of range"},
      {ListText(1, 0, 0, {}), std::nullopt, "\"parts\" out of range"},
      {ListText(1, 0, 257, {}), std::nullopt, "\"parts\" out of range"},
      {ListText(1, 2, 2, {}), std::nullopt, "\"part\" out of range"},
      {R"({"kind":"voice","seq":1,"part":0,"parts":1,"members":[]})", std::nullopt, "\"channel\" missing"},
      // The channel and the members.
      {ListText(1, 0, 1, {"100"}, "null"), std::nullopt, "members without a channel"},
      {ListText(1, 0, 2, {}, "null"), std::nullopt, "members without a channel"},
      {ListText(1, 0, 1, {}, R"({"name":"General"})"), std::nullopt, "channel: \"id\" missing"},
      {ListText(1, 0, 1, {}, R"({"id":"3","type":"voice"})"), std::nullopt, "channel: \"type\" out of range"},
      {R"({"kind":"voice","seq":1,"part":0,"parts":1,"channel":null,"members":{}})", std::nullopt, "not an array"},
      {Field(R"({"name":"no id"})"), std::nullopt, "member 0: \"id\" missing"},
      {Field(R"({"id":1})"), std::nullopt, "member 0: \"id\" is not a string"},
      {Field(R"({"id":"1\u0000"})"), std::nullopt, "member 0: \"id\" holds NUL"},
      {Field(R"({"id":")" + std::string(257, '9') + "\"}"), std::nullopt, "member 0: \"id\" too long"},
      {Field(R"({"id":"1"},{"id":"2","mute":"yes"})"), std::nullopt, "member 1: \"mute\" is not true or false"},
      {Field(R"({"id":"1","local_mute":null})"), std::nullopt, "member 0: \"local_mute\" is not true or false"},
      {Field(R"({"id":"1","live":"yes"})"), std::nullopt, "member 0: \"live\" is not true or false"},
      {Field(R"({"id":"1","name":null})"), std::nullopt, "member 0: \"name\" is not a string"},
      {Field("5"), std::nullopt, "member 0: not an object"},
      {R"({"kind":"speaking","speaking":true})", std::nullopt, "speaking: \"user_id\" missing"},
      {R"({"kind":"speaking","user_id":"2"})", std::nullopt, "speaking: \"speaking\" missing"},
  };
  for (const Case& c : cases) {
    std::string error;
    std::optional<FeedMessage> message = ParseFeed(c.text, &error);
    ASSERT_EQ(message.has_value(), c.kind.has_value()) << c.text.substr(0, 120) << " -> " << error;
    if (message) {
      EXPECT_EQ(message->kind, *c.kind) << c.text;
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << c.text.substr(0, 120) << " -> " << error;
    }
  }
}

TEST(ReadFeedMessage, MembersBecomeVoiceUsers) {
  const std::string text =
      R"({"kind":"voice","seq":17,"part":0,"parts":1,"channel":{"id":"300","guild_id":null,"type":3,"name":"週末"},)"
      R"("self_id":"100","members":[{"id":"100","name":"Me","avatar":"a_0123","guild_avatar":null,"bot":false,)"
      R"("mute":true,"deaf":true,"speaking":true},{"id":"200","name":"ボブ","avatar":null,"guild_avatar":"9abc","bot":true,)"
      R"("local_mute":true,"live":true,"video":true,"later":"ignored"}]})";
  std::optional<FeedMessage> message = ParseFeed(text, nullptr);
  ASSERT_TRUE(message);
  const FeedList& list = message->list;
  EXPECT_EQ(list.seq, 17);
  ASSERT_TRUE(list.channel);
  EXPECT_EQ(list.channel->guildId, L"");
  EXPECT_EQ(list.channel->type, 3);
  EXPECT_EQ(list.channel->name, L"週末");
  EXPECT_EQ(list.selfId, "100");
  ASSERT_EQ(list.members.size(), 2u);
  const VoiceUser& me = list.members[0].user;
  EXPECT_EQ(me.id, "100");
  EXPECT_EQ(me.avatarHash, L"a_0123");
  EXPECT_TRUE(me.muted && me.deafened && me.speaking && !me.bot);
  EXPECT_TRUE(!me.localMute && !me.live && !me.video);
  const FeedMember& bob = list.members[1];
  EXPECT_EQ(bob.user.displayName, L"ボブ");
  EXPECT_EQ(bob.user.username, L"ボブ");
  EXPECT_EQ(bob.user.avatarHash, L"");
  EXPECT_EQ(bob.guildAvatarHash, L"9abc");
  EXPECT_TRUE(bob.user.bot && !bob.user.muted && !bob.user.deafened && !bob.user.speaking);
  EXPECT_TRUE(bob.user.localMute && bob.user.live && bob.user.video);
}

TEST(FeedAssembler, JoinsPartsOfOneListAndDropsTheRest) {
  using Ids = std::vector<std::string>;
  struct Step {
    std::string text;
    std::optional<Ids> whole;  // the ids of the list this part completes
    std::string error;         // in the reason for a dropped part; empty: kept or completed
  };
  const auto none = std::nullopt;
  const std::vector<Step> steps[] = {
      {{ListText(1, 0, 1, {"1", "2"}), Ids{"1", "2"}, ""}},
      // Out of order, joined in part order.
      {{ListText(2, 1, 2, {"3"}), none, ""}, {ListText(2, 0, 2, {"1", "2"}), Ids{"1", "2", "3"}, ""}},
      // A newer list discards the unfinished older one, whose late part is stale.
      {{ListText(3, 0, 2, {"1"}), none, ""},
       {ListText(4, 0, 1, {"9"}), Ids{"9"}, ""},
       {ListText(3, 1, 2, {"2"}), none, "stale part of list 3"},
       {ListText(5, 0, 1, {}), Ids{}, ""}},
      {{ListText(6, 0, 2, {"1"}), none, ""}, {ListText(6, 0, 2, {"1"}), none, "came twice"},
       {ListText(6, 1, 2, {"2"}), Ids{"1", "2"}, ""}},
      // A part that disagrees drops the whole unfinished list.
      {{ListText(7, 0, 2, {"1"}), none, ""}, {ListText(7, 1, 3, {"2"}), none, "disagrees"}, {ListText(7, 1, 2, {"2"}), none, ""}},
      {{ListText(7, 0, 2, {"1"}), none, ""}, {ListText(7, 1, 2, {"2"}, R"({"id":"301"})"), none, "disagrees"}},
      // A member named twice is the roster's to settle: the list is whole.
      {{ListText(8, 0, 2, {"1", "2"}), none, ""}, {ListText(8, 1, 2, {"2"}), Ids{"1", "2", "2"}, ""}},
  };
  for (const auto& flow : steps) {
    FeedAssembler assembler;
    for (const Step& step : flow) {
      std::optional<FeedMessage> part = ParseFeed(step.text, nullptr);
      ASSERT_TRUE(part) << step.text;
      std::string error = "not cleared";
      std::optional<FeedList> whole = assembler.Add(part->list, &error);
      std::optional<Ids> ids;
      if (whole) {
        ids.emplace();
        for (const FeedMember& m : whole->members) ids->push_back(m.user.id);
      }
      EXPECT_EQ(ids, step.whole) << step.text;
      if (step.error.empty()) {
        EXPECT_EQ(error, "") << step.text;
      } else {
        EXPECT_NE(error.find(step.error), std::string::npos) << step.text << " -> " << error;
      }
    }
  }
}

// Members are bounded over all the parts of a list too; after a connection
// closes, a restarted plugin counts from 1 again.
TEST(FeedAssembler, BoundedAndResetByTheOwner) {
  FeedAssembler assembler;
  std::vector<std::string> ids(kMaxFeedMembers / 2 + 1);
  for (size_t i = 0; i < ids.size(); ++i) ids[i] = std::to_string(i);
  FeedList part = ParseFeed(ListText(9, 0, 3, {}), nullptr)->list;
  for (int p = 0; p < 2; ++p) {
    part.part = p;
    part.members.clear();
    for (const std::string& id : ids) {
      FeedMember member;
      member.user.id = std::string(1, static_cast<char>('a' + p)) + id;
      part.members.push_back(member);
    }
    std::string error;
    EXPECT_FALSE(assembler.Add(part, &error));
    EXPECT_EQ(error.find("more than") != std::string::npos, p == 1) << error;
  }
  std::string error;
  EXPECT_FALSE(assembler.Add(ParseFeed(ListText(1, 0, 1, {"1"}), nullptr)->list, &error));
  EXPECT_NE(error.find("stale"), std::string::npos);
  assembler.Reset();
  EXPECT_TRUE(assembler.Add(ParseFeed(ListText(1, 0, 1, {"1"}), nullptr)->list, &error));
}

std::string Put(int seq, const std::string& op, const std::string& id, const std::string& before,
                const std::string& extra = "") {
  return R"({"kind":"member","seq":)" + std::to_string(seq) + R"(,"op":")" + op + R"(","member":{"id":")" + id +
         R"(")" + extra + R"(},"before":)" + (before.empty() ? "null" : "\"" + before + "\"") + "}";
}

// Deliveries as the endpoints hand them on, each with its connection (no
// message: that connection closed): the feed is live from a whole list to its
// end or its carrier's close, a restarted plugin's lower seq starts afresh, and
// one member's change or ring applies to the list its own connection brought.
TEST(FeedIntake, FollowsTheConnectionThatCarriesTheFeed) {
  using K = RosterChange::Kind;
  struct Step {
    const char* what;
    uint64_t connection;
    std::string text;  // empty: the connection closed
    K change;
    bool live;
    std::string shown;    // ids, speakers with '*', muted-for-you with '~', live with '!'
    std::string problem;  // in the reason the message was dropped; empty: none
  };
  const Step steps[] = {
      {"speaking before any list", 1, R"({"kind":"speaking","user_id":"200","speaking":true})", K::None, false, "",
       "speaking for no list"},
      {"member change before any list", 1, Put(4, "add", "9", ""), K::None, false, "", "member change for no list"},
      {"first part of two", 1, ListText(5, 0, 2, {"100", "200"}), K::None, false, "", ""},
      {"second part: live", 1, ListText(5, 1, 2, {"300"}), K::Members, true, "100 200 300", ""},
      {"speaking", 1, R"({"kind":"speaking","user_id":"200","speaking":true})", K::Speaking, true, "100 200* 300", ""},
      {"speaking again, no news", 1, R"({"kind":"speaking","user_id":"200","speaking":true})", K::None, true,
       "100 200* 300", ""},
      {"speaking over another connection", 2, R"({"kind":"speaking","user_id":"100","speaking":true})", K::None, true,
       "100 200* 300", "speaking for no list"},
      {"one joins before 200", 1, Put(6, "add", "400", "200", R"(,"live":true)"), K::Members, true,
       "100 400! 200* 300", ""},
      {"100 muted for the user, moves to the end", 1, Put(7, "change", "100", "", R"(,"local_mute":true)"), K::Members,
       true, "400! 200* 300 100~", ""},
      {"an add of one listed replaces it", 1, Put(8, "add", "300", "400"), K::Members, true, "300 400! 200* 100~", ""},
      {"200 leaves", 1, R"({"kind":"member","seq":9,"op":"remove","id":"200"})", K::Members, true, "300 400! 100~", ""},
      {"an unknown one leaves", 1, R"({"kind":"member","seq":9,"op":"remove","id":"999"})", K::None, true,
       "300 400! 100~", ""},
      {"older than the list", 1, Put(4, "add", "500", ""), K::None, true, "300 400! 100~", "older than list 5"},
      {"a notification sender's pipe closes", 2, "", K::None, true, "300 400! 100~", ""},
      {"a restarted plugin counts from 1 again", 3, ListText(1, 0, 1, {"100", "300"}), K::Members, true, "100 300", ""},
      {"the old connection's close comes late", 1, "", K::None, true, "100 300", ""},
      // Its list stays while the RPC client brings its own.
      {"the feed's end", 3, R"({"kind":"voice","live":false})", K::None, false, "100 300", ""},
      {"a change after the end", 3, Put(2, "add", "500", ""), K::None, false, "100 300", "member change for no list"},
      {"live again", 3, ListText(2, 0, 1, {"100"}), K::Members, true, "100", ""},
      {"its connection closes", 3, "", K::None, false, "100", ""},
  };
  VoiceRoster roster;
  FeedIntake intake;
  uint32_t now = 1000;
  for (const Step& step : steps) {
    FeedDelivery delivery{step.connection, std::nullopt};
    if (!step.text.empty()) delivery.message = ParseFeed(step.text, nullptr);
    ASSERT_TRUE(step.text.empty() || delivery.message) << step.what;
    std::string problem, note;
    EXPECT_EQ(intake.Take(delivery, now += 100, roster, &problem, &note).kind, step.change) << step.what;
    if (step.problem.empty()) EXPECT_EQ(problem, "") << step.what;
    else EXPECT_NE(problem.find(step.problem), std::string::npos) << step.what << " -> " << problem;
    EXPECT_EQ(roster.FeedLive(), step.live) << step.what;
    std::string shown;
    for (const VoiceUser& user : roster.Shown())
      shown += (shown.empty() ? "" : " ") + user.id + (user.speaking ? "*" : "") + (user.localMute ? "~" : "") +
               (user.live ? "!" : "");
    EXPECT_EQ(shown, step.shown) << step.what;
  }
  EXPECT_EQ(roster.SelfId(), "100");
}

// A server avatar is drawn from the channel's server; in a call there is none.
TEST(FeedUsers, ServerAvatarsTakeTheChannelsServer) {
  const std::string member = R"([{"id":"1","avatar":"own","guild_avatar":"srv"},{"id":"2","avatar":"own2"}])";
  for (const auto& [channel, guild] : {std::pair<std::string, std::wstring>{R"({"id":"3","guild_id":"200"})", L"200"},
                                       {R"({"id":"3","guild_id":null})", L""}}) {
    const std::string text =
        R"({"kind":"voice","seq":1,"part":0,"parts":1,"channel":)" + channel + R"(,"members":)" + member + "}";
    const std::vector<VoiceUser> users = FeedUsers(ParseFeed(text, nullptr)->list);
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].avatarHash, L"own");
    EXPECT_EQ(users[0].guildId, guild);
    EXPECT_EQ(users[0].guildAvatarHash, guild.empty() ? L"" : L"srv");
    EXPECT_TRUE(users[1].guildId.empty() && users[1].guildAvatarHash.empty());
  }
}
