// How a connection gets from Discord's READY to an authenticated session:
// the token kept from an earlier connection when there is one (no code, no
// dialog), else AUTHORIZE (Discord's consent dialog), the code exchanged for
// a token, and AUTHENTICATE. Pure: the client feeds in Discord's answers, the
// token request's outcome and the time; the steps come out through act, in
// the order they are to be carried out, each as the state changes that
// produce it (a refused token is still known while its error is logged).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/json.h"

// Where the connection stands, as the tray tells the user.
enum class RpcState {
  Disconnected,       // no pipe
  WaitingForReady,    // handshake sent; Discord may hold READY back
  WaitingForConsent,  // AUTHORIZE outstanding: Discord may be showing its dialog
  Authenticating,     // token exchange or AUTHENTICATE outstanding
  Connected,          // authenticated: voice tracking runs
  NotAuthorized,      // authorization failed on this connection; see the log
  ClientIdRejected,   // Discord closed the pipe with 4000; kept until a READY
  ScopeRejected,      // AUTHORIZE answered invalid_scope: the application is not approved for rpc.voice.read
};

enum class AuthStepKind {
  Log,               // text: the line
  State,             // state: the one to show
  SendAuthorize,
  ExchangeCode,      // text: the code; false back when no request could be started
  SendAuthenticate,  // text: the token
  Authenticated,     // text: the user's id from the answer (may be empty)
};

struct AuthStep {
  AuthStepKind kind = AuthStepKind::Log;
  std::string text = {};
  RpcState state = RpcState::Disconnected;
};

// What came of the code-for-token request.
struct TokenOutcome {
  enum Kind { Unreachable, TooLarge, Answered } kind = Unreachable;
  std::string detail = {};  // Unreachable: the line naming what failed; Answered: the body
};

class RpcAuthorization {
 public:
  // Carries out one step; returns false when it could not (only
  // ExchangeCode asks). Set before the first event.
  std::function<bool(const AuthStep&)> act;

  // A new pipe. Its number tags the token request, so a token that arrives
  // after its connection was lost is not sent down a newer one.
  void OnPipeOpened() { ++connection_; }
  uint32_t Connection() const { return connection_; }
  // What was on its way (AUTHORIZE, a held authorization, a retry) dies
  // with the pipe; the next connection must ask again.
  void OnConnectionLost();
  void OnReady();
  // Whether a connection may ask Discord for authorization (and so for the
  // user's consent); a kept token is tried either way. An authorization held
  // back starts once it is allowed again.
  void Allow(bool allowed);
  void OnAuthorizeAnswer(const Json& message, bool haveClientSecret);
  // connection: the Connection() the request was started on.
  void OnTokenOutcome(uint32_t connection, const TokenOutcome& outcome, uint32_t now);
  void OnAuthenticateAnswer(const Json& message);
  // Authorizes again once the wait after an unreachable token endpoint is over.
  void OnTick(uint32_t now);
  // 0xFFFFFFFF when nothing is due.
  uint32_t MsUntilDue(uint32_t now) const;
  // Kept for the process (never on disk) and tried first on every
  // connection, so Discord asks the user for consent once.
  const std::string& AccessToken() const { return accessToken_; }

 private:
  void Log(const std::string& line) { act({AuthStepKind::Log, line}); }
  void SetState(RpcState state) { act({AuthStepKind::State, "", state}); }
  void Start();
  void SendAuthorize();
  void Fail(const std::string& why);
  void ExchangeCode(const std::string& code, bool haveClientSecret);
  void RetryLater(const std::string& why, uint32_t now);
  void SendAuthenticate();

  std::string accessToken_;
  bool tokenFromEarlierConnection_ = false;
  bool allowed_ = true;
  bool held_ = false;         // READY came while authorization was not allowed
  bool authorizing_ = false;  // an AUTHORIZE is outstanding on this pipe
  // The token endpoint could not be reached: the user has consented, so a
  // later AUTHORIZE gets a code without a dialog. Failures count for the
  // process, so an endpoint that stays away is asked less and less often.
  bool retryWaiting_ = false;
  uint32_t retrySince_ = 0;
  int tokenTransportFailures_ = 0;
  uint32_t connection_ = 0;
};
