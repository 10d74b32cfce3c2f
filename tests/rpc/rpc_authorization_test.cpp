#include "rpc/rpc_authorization.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One input, as the client feeds it: a new pipe, READY, the caller's
// allowing or holding back, Discord's answers (text: the message), the token
// request's outcome (text: the body, or the line naming what failed) and the
// time (ms).
enum class In { Pipe, Ready, Allow, Hold, Authorize, Token, Unreachable, TooLarge, Authenticate, Tick, Lost };

struct Event {
  In in;
  std::string text = {};
  uint32_t ms = 0;
};

std::string AuthorizeCode(const std::string& code) {
  return R"({"cmd":"AUTHORIZE","data":{"code":")" + code + R"("},"evt":null,"nonce":"1"})";
}
std::string Refused(const char* cmd, int code, const std::string& message) {
  return std::string(R"({"cmd":")") + cmd + R"(","data":{"code":)" + std::to_string(code) + R"(,"message":")" +
         message + R"("},"evt":"ERROR","nonce":"2"})";
}
const std::string kUser42 = R"({"cmd":"AUTHENTICATE","data":{"user":{"id":"42","username":"alice"}},"evt":null})";
const std::string kToken = R"({"access_token":"T0kenValue","token_type":"Bearer"})";

// A session to a member list on the first connection.
const std::vector<Event> kSession = {{In::Pipe},  {In::Ready},
                                     {In::Authorize, AuthorizeCode("C0de")},
                                     {In::Token, kToken},
                                     {In::Authenticate, kUser42}};

std::vector<Event> Then(std::vector<Event> first, const std::vector<Event>& more) {
  first.insert(first.end(), more.begin(), more.end());
  return first;
}

const char* Name(RpcState state) {
  switch (state) {
    case RpcState::Disconnected: return "Disconnected";
    case RpcState::WaitingForReady: return "WaitingForReady";
    case RpcState::WaitingForConsent: return "WaitingForConsent";
    case RpcState::Authenticating: return "Authenticating";
    case RpcState::Connected: return "Connected";
    case RpcState::NotAuthorized: return "NotAuthorized";
    case RpcState::ClientIdRejected: return "ClientIdRejected";
    case RpcState::ScopeRejected: return "ScopeRejected";
  }
  return "?";
}

// Runs the events; every step but the log lines comes back as a word (and
// each tick as "@ms", so a step shows when it came), the lines apart.
struct Drive {
  std::vector<std::string> steps, lines;

  Drive(const std::vector<Event>& events, bool haveSecret, bool threadStarts) {
    RpcAuthorization auth;
    uint32_t exchangeConnection = 0;
    auth.act = [&](const AuthStep& step) {
      switch (step.kind) {
        case AuthStepKind::Log: lines.push_back(step.text); break;
        case AuthStepKind::State: steps.push_back(Name(step.state)); break;
        case AuthStepKind::SendAuthorize: steps.push_back("AUTHORIZE"); break;
        case AuthStepKind::ExchangeCode:
          steps.push_back("exchange " + step.text);
          exchangeConnection = auth.Connection();
          return threadStarts;
        case AuthStepKind::SendAuthenticate: steps.push_back("AUTHENTICATE " + step.text); break;
        case AuthStepKind::Authenticated: steps.push_back("user " + step.text); break;
      }
      return true;
    };
    for (const Event& e : events) {
      switch (e.in) {
        case In::Pipe: auth.OnPipeOpened(); break;
        case In::Ready: auth.OnReady(); break;
        case In::Allow: auth.Allow(true); break;
        case In::Hold: auth.Allow(false); break;
        case In::Authorize: auth.OnAuthorizeAnswer(*ParseJson(e.text), haveSecret); break;
        case In::Token: auth.OnTokenOutcome(exchangeConnection, {TokenOutcome::Answered, e.text}, e.ms); break;
        case In::Unreachable: auth.OnTokenOutcome(exchangeConnection, {TokenOutcome::Unreachable, e.text}, e.ms); break;
        case In::TooLarge: auth.OnTokenOutcome(exchangeConnection, {TokenOutcome::TooLarge}, e.ms); break;
        case In::Authenticate: auth.OnAuthenticateAnswer(*ParseJson(e.text)); break;
        case In::Tick:
          steps.push_back("@" + std::to_string(e.ms) + " due " + std::to_string(auth.MsUntilDue(e.ms)));
          auth.OnTick(e.ms);
          break;
        case In::Lost: auth.OnConnectionLost(); break;
      }
    }
  }
  bool Logged(const std::string& line) const {
    for (const std::string& l : lines)
      if (l == line) return true;
    return false;
  }
};

}  // namespace

TEST(RpcAuthorization, FromReadyToAnAuthenticatedSession) {
  struct Case {
    const char* what;
    std::vector<Event> events;
    std::vector<std::string> steps;
    std::string line;  // among the lines logged
    bool haveSecret = true;
    bool threadStarts = true;
  };
  const std::string kDenied =
      "OAuth2 Error: access_denied: The resource owner or authorization server denied the request";
  const std::vector<std::string> kConsent = {"WaitingForConsent", "AUTHORIZE"};
  const std::vector<std::string> kExchange = {"WaitingForConsent", "AUTHORIZE", "exchange C0de", "Authenticating"};
  const std::vector<std::string> kAuthenticated = {"WaitingForConsent", "AUTHORIZE",  "exchange C0de",
                                                   "Authenticating",    "AUTHENTICATE T0kenValue", "Connected",
                                                   "user 42"};
  auto with = [](std::vector<std::string> first, const std::vector<std::string>& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
  };
  const Case cases[] = {
      {"consent given", kSession, kAuthenticated, "Authentication successful!"},
      {"consent refused", {{In::Pipe}, {In::Ready}, {In::Authorize, Refused("AUTHORIZE", 5000, kDenied)}},
       with(kConsent, {"NotAuthorized"}), "AUTHORIZE error: " + kDenied},
      {"invalid_scope: asking again changes nothing",
       {{In::Pipe}, {In::Ready}, {In::Authorize, Refused("AUTHORIZE", 4000, "OAuth2 Error: invalid_scope")}},
       with(kConsent, {"ScopeRejected"}),
       "ERROR: invalid_scope: Discord has not approved this application for rpc.voice.read; the Tallybell plugin "
       "is the way to show your voice channel"},
      {"no redirect URI",
       {{In::Pipe}, {In::Ready}, {In::Authorize, Refused("AUTHORIZE", 5000, "Invalid redirect_uri")}},
       with(kConsent, {"NotAuthorized"}),
       "ERROR: The Discord application needs a Redirect URI: add one (for example http://localhost) on its OAuth2 "
       "page in the Developer Portal, then choose Reconnect"},
      {"an answer without a code", {{In::Pipe}, {In::Ready}, {In::Authorize, R"({"cmd":"AUTHORIZE","data":{}})"}},
       with(kConsent, {"NotAuthorized"}), "No access_token or code in AUTHORIZE response"},
      {"no client secret: no request", {{In::Pipe}, {In::Ready}, {In::Authorize, AuthorizeCode("C0de")}},
       with(kConsent, {"NotAuthorized"}), "Please set your Discord app's client_secret to enable voice channel access",
       false},
      {"no worker thread", {{In::Pipe}, {In::Ready}, {In::Authorize, AuthorizeCode("C0de")}},
       with(kConsent, {"exchange C0de", "NotAuthorized"}), "ERROR: Could not start the token exchange thread", true,
       false},
      {"the token endpoint refuses the code",
       {{In::Pipe}, {In::Ready}, {In::Authorize, AuthorizeCode("C0de")},
        {In::Token, R"({"error":"invalid_grant","error_description":"Invalid code"})"}},
       with(kExchange, {"NotAuthorized"}), "Token exchange failed: invalid_grant - Invalid code"},
      {"a token answer too large", {{In::Pipe}, {In::Ready}, {In::Authorize, AuthorizeCode("C0de")}, {In::TooLarge}},
       with(kExchange, {"NotAuthorized"}), "ERROR: Token response too large"},
      // The user has consented: a later AUTHORIZE gets a code without a
      // dialog, after 5 s, then 10 s.
      {"token endpoint unreachable, then back-off",
       {{In::Pipe}, {In::Ready}, {In::Authorize, AuthorizeCode("C0de")},
        {In::Unreachable, "ERROR: WinHttpConnect failed", 1000}, {In::Tick, "", 5999}, {In::Tick, "", 6000},
        {In::Authorize, AuthorizeCode("C0de")}, {In::Unreachable, "ERROR: WinHttpSendRequest failed: 12029", 7000},
        {In::Tick, "", 16999}, {In::Tick, "", 17000}, {In::Authorize, AuthorizeCode("C0de")}, {In::Token, kToken}},
       with(kExchange, {"@5999 due 1", "@6000 due 0", "WaitingForConsent", "AUTHORIZE", "exchange C0de",
                        "Authenticating", "@16999 due 1", "@17000 due 0", "WaitingForConsent", "AUTHORIZE",
                        "exchange C0de", "Authenticating", "AUTHENTICATE T0kenValue"}),
       "ERROR: WinHttpSendRequest failed: 12029; authorizing again in 10 s"},
      {"a connection lost while waiting to retry retries nothing",
       {{In::Pipe}, {In::Ready}, {In::Authorize, AuthorizeCode("C0de")},
        {In::Unreachable, "ERROR: WinHttpConnect failed", 0}, {In::Lost}, {In::Tick, "", 60000}},
       with(kExchange, {"@60000 due 4294967295"}), "ERROR: WinHttpConnect failed; authorizing again in 5 s"},
      {"kept token tried first, refused with 4009, then AUTHORIZE",
       Then(kSession, {{In::Lost}, {In::Pipe}, {In::Ready},
                       {In::Authenticate, Refused("AUTHENTICATE", 4009, "Invalid access token: T0kenValue")}}),
       with(kAuthenticated, {"Authenticating", "AUTHENTICATE T0kenValue", "WaitingForConsent", "AUTHORIZE"}),
       "The kept access token was refused; authorizing again"},
      {"a fresh token refused: no second AUTHORIZE",
       {{In::Pipe}, {In::Ready}, {In::Authorize, AuthorizeCode("C0de")}, {In::Token, kToken},
        {In::Authenticate, Refused("AUTHENTICATE", 4009, "Invalid access token: T0kenValue")}},
       with(kExchange, {"AUTHENTICATE T0kenValue", "NotAuthorized"}),
       "AUTHENTICATE error: Invalid access token: T0kenValue"},
      {"authorization held, then allowed", {{In::Hold}, {In::Pipe}, {In::Ready}, {In::Allow}}, kConsent,
       "Authorization no longer held back"},
      {"held: nothing before it is allowed", {{In::Hold}, {In::Pipe}, {In::Ready}, {In::Hold}}, {},
       "Authorization held back: the plugin's voice feed is live or awaited"},
      {"held on a connection since lost: allowing asks nothing",
       {{In::Hold}, {In::Pipe}, {In::Ready}, {In::Lost}, {In::Allow}}, {},
       "Authorization held back: the plugin's voice feed is live or awaited"},
      {"a kept token authenticates while held", Then(kSession, {{In::Lost}, {In::Hold}, {In::Pipe}, {In::Ready}}),
       with(kAuthenticated, {"Authenticating", "AUTHENTICATE T0kenValue"}), "Sending AUTHENTICATE request..."},
      {"token arriving after its connection was lost",
       {{In::Pipe}, {In::Ready}, {In::Authorize, AuthorizeCode("C0de")}, {In::Lost}, {In::Pipe}, {In::Ready},
        {In::Token, kToken}},
       with(kExchange, kConsent), "Token exchange finished after its connection was lost; result dropped"},
  };
  for (const Case& c : cases) {
    const Drive run(c.events, c.haveSecret, c.threadStarts);
    EXPECT_EQ(run.steps, c.steps) << c.what;
    EXPECT_TRUE(run.Logged(c.line)) << c.what << ": " << c.line;
  }
}
