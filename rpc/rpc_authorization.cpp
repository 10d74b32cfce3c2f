#include "rpc/rpc_authorization.h"

#include "app/backoff.h"
#include "rpc/rpc_messages.h"

namespace {

constexpr uint32_t kNeverDue = 0xFFFFFFFF;
// After the token endpoint could not be reached: 5 s, doubling up to 5 minutes.
constexpr uint32_t kFirstRetryMs = 5000;
constexpr uint32_t kMostRetryMs = 5 * 60 * 1000;
constexpr size_t kTokenExcerptBytes = 200;
constexpr size_t kCodeExcerptBytes = 10;
constexpr int64_t kInvalidToken = 4009;

}  // namespace

void RpcAuthorization::OnConnectionLost() {
  authorizing_ = false;
  held_ = false;
  retryWaiting_ = false;
}

void RpcAuthorization::OnReady() { Start(); }

// The one place that decides how a connection gets authorized.
void RpcAuthorization::Start() {
  tokenFromEarlierConnection_ = !accessToken_.empty();
  if (tokenFromEarlierConnection_) {
    SetState(RpcState::Authenticating);
    return SendAuthenticate();
  }
  if (!allowed_) {
    if (!held_) Log("Authorization held back: the plugin's voice feed is live or awaited");
    held_ = true;
    return;
  }
  held_ = false;
  SendAuthorize();
}

// Held means READY came on the pipe still open.
void RpcAuthorization::Allow(bool allowed) {
  allowed_ = allowed;
  if (!allowed || !held_) return;
  Log("Authorization no longer held back");
  Start();
}

void RpcAuthorization::SendAuthorize() {
  if (authorizing_) return;
  authorizing_ = true;
  SetState(RpcState::WaitingForConsent);
  Log("Sending AUTHORIZE request...");
  act({AuthStepKind::SendAuthorize});
}

// Every failure on the way to AUTHENTICATE that waiting will not mend ends
// here: its line, and the state the tray shows until the user acts
// (Reconnect, config.json).
void RpcAuthorization::Fail(const std::string& why) {
  Log(why);
  SetState(RpcState::NotAuthorized);
}

void RpcAuthorization::OnAuthorizeAnswer(const Json& message, bool haveClientSecret) {
  authorizing_ = false;
  if (auto error = ReadRpcError(message)) {
    Log("AUTHORIZE error: " + error->message);
    if (error->message.find("invalid_scope") != std::string::npos) {
      // Discord grants rpc.voice.read only to applications it has approved;
      // asking again changes nothing.
      Log("ERROR: invalid_scope: Discord has not approved this application for rpc.voice.read; "
          "the Tallybell plugin is the way to show your voice channel");
      return SetState(RpcState::ScopeRejected);
    }
    if (error->message.find("redirect_uri") == std::string::npos) return SetState(RpcState::NotAuthorized);
    return Fail("ERROR: The Discord application needs a Redirect URI: add one (for example "
                "http://localhost) on its OAuth2 page in the Developer Portal, then choose Reconnect");
  }
  const Json* data = JsonMember(message, "data");
  std::string code = data ? JsonString(*data, "code") : "";
  if (code.empty()) return Fail("No access_token or code in AUTHORIZE response");
  Log("Got authorization code: " + code.substr(0, kCodeExcerptBytes) + "...");
  ExchangeCode(code, haveClientSecret);
}

void RpcAuthorization::ExchangeCode(const std::string& code, bool haveClientSecret) {
  if (!haveClientSecret) {
    Log("ERROR: client_secret not set in config.json");
    return Fail("Please set your Discord app's client_secret to enable voice channel access");
  }
  Log("Exchanging code for access token...");
  if (!act({AuthStepKind::ExchangeCode, code})) return Fail("ERROR: Could not start the token exchange thread");
  SetState(RpcState::Authenticating);
}

void RpcAuthorization::OnTokenOutcome(uint32_t connection, const TokenOutcome& outcome, uint32_t now) {
  if (connection != connection_) return Log("Token exchange finished after its connection was lost; result dropped");
  if (outcome.kind == TokenOutcome::Unreachable) return RetryLater(outcome.detail, now);
  if (outcome.kind == TokenOutcome::TooLarge) return Fail("ERROR: Token response too large");
  tokenTransportFailures_ = 0;
  const TokenResponse response = ReadTokenResponse(outcome.detail);
  // The token is known before the excerpt is logged, so it is redacted
  // wherever it stands.
  accessToken_ = response.accessToken;
  Log("Token response: " + outcome.detail.substr(0, kTokenExcerptBytes));
  if (accessToken_.empty())
    return Fail("Token exchange failed: " + response.error + " - " + response.errorDescription);
  Log("Got access token!");
  SendAuthenticate();
}

void RpcAuthorization::RetryLater(const std::string& why, uint32_t now) {
  const uint32_t delay = DoublingDelayMs(++tokenTransportFailures_, kFirstRetryMs, kMostRetryMs);
  Log(why + "; authorizing again in " + std::to_string(delay / 1000) + " s");
  retryWaiting_ = true;
  retrySince_ = now;
}

uint32_t RpcAuthorization::MsUntilDue(uint32_t now) const {
  if (!retryWaiting_) return kNeverDue;
  const uint32_t delay = DoublingDelayMs(tokenTransportFailures_, kFirstRetryMs, kMostRetryMs);
  const uint32_t elapsed = now - retrySince_;
  return elapsed >= delay ? 0 : delay - elapsed;
}

void RpcAuthorization::OnTick(uint32_t now) {
  if (MsUntilDue(now) != 0) return;
  retryWaiting_ = false;
  Start();
}

void RpcAuthorization::SendAuthenticate() {
  Log("Sending AUTHENTICATE request...");
  act({AuthStepKind::SendAuthenticate, accessToken_});
}

void RpcAuthorization::OnAuthenticateAnswer(const Json& message) {
  if (auto error = ReadRpcError(message)) {
    Log("AUTHENTICATE error: " + error->message);  // 4009 quotes the token, still known to the log's redaction
    accessToken_.clear();  // a refused token is of no more use
    // A token kept from earlier may have expired or been revoked: ask for a
    // new code; Discord grants it without a dialog to a user who consented.
    if (error->code != kInvalidToken || !tokenFromEarlierConnection_) return SetState(RpcState::NotAuthorized);
    Log("The kept access token was refused; authorizing again");
    return Start();
  }
  const Json* data = JsonMember(message, "data");
  if (!data || !JsonMember(*data, "user")) return;
  SetState(RpcState::Connected);
  Log("Authentication successful!");
  act({AuthStepKind::Authenticated, ReadUserId(message)});
}
