// The connection to the Discord desktop client's local RPC pipe: the
// transport, the authorization (AUTHORIZE, token exchange, AUTHENTICATE) and
// the tracking of the selected voice channel, put together. Everything runs
// on the UI thread except the token request, which a worker performs and Poll
// picks up, and the thread-pool wait that calls onWake when bytes arrive.
// Each frame is parsed once, where it is cut from the pipe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/json.h"
#include "app/voice_user.h"
#include "rpc/rpc_authorization.h"
#include "rpc/rpc_frame.h"
#include "rpc/rpc_transport.h"
#include "rpc/token_exchange.h"
#include "rpc/voice_tracking.h"

class RpcClient {
 public:
  RpcClient();
  ~RpcClient();
  RpcClient(const RpcClient&) = delete;
  RpcClient& operator=(const RpcClient&) = delete;

  // Opens the first of "\\.\pipe\discord-ipc-0".."9" that exists and sends
  // the handshake; Poll takes it from there. While a connection is still
  // on its way (READY, consent, token) it is kept and no second one opened.
  bool Connect(const std::wstring& clientId);
  // Also ends every speaking flag: no ring outlives its connection.
  void Disconnect();
  // The pipe is open (whether or not READY came yet).
  bool IsConnected() const { return transport.IsOpen(); }
  RpcState State() const { return state; }
  // Never waits on the pipe: handles every whole frame received so far,
  // picks up the token result and sends the periodic snapshot request.
  void Poll();
  // How long the caller may wait for onWake before Poll is due anyway (the
  // next snapshot request, a started frame's deadline, another AUTHORIZE
  // after the token endpoint could not be reached); 0xFFFFFFFF when
  // disconnected or when nothing is due.
  uint32_t MsUntilPollDue(uint32_t now) const;
  // Whether a connection may ask Discord for authorization (and so for the
  // user's consent); a token kept from an earlier connection is tried either
  // way. An authorization held back starts once it is allowed again.
  void AllowAuthorization(bool allowed);

  std::wstring clientSecret;  // copied in before each Connect
  // Both are called on the UI thread from inside Poll. onVoiceUsers gets the
  // list itself: copy what you keep, do not call back in.
  std::function<void(const std::vector<VoiceUser>&)> onVoiceUsers;
  // Where set, a speaking event comes here alone (user id, speaking) instead
  // of as the whole list.
  std::function<void(const std::string&, bool)> onSpeaking;
  std::function<void(const std::wstring&, const std::wstring&)> onMessage;
  // The user's own id, from READY and from AUTHENTICATE's answer.
  std::function<void(const std::string&)> onSelfId;
  // On the UI thread, whenever State() changes.
  std::function<void(RpcState)> onStateChanged;
  // Set before Connect. Called on another thread whenever Poll has work
  // (bytes arrived, the pipe broke, the token request finished); never after
  // the destructor has returned.
  std::function<void()> onWake;

 private:
  bool StillOnItsWay() const;
  void ClosePipe();
  void SetState(RpcState next);
  void LoseConnection(const std::string& why);
  bool SendFrame(uint32_t opcode, const std::string& payload);
  bool SendCommand(const std::string& text) { return SendFrame(kOpFrame, text); }
  bool TakeFrame(RpcFrame& frame);
  void HandleFrame(const RpcFrame& frame);
  void HandleClose(const std::string& payload);
  void HandleMessage(const Json& message);
  void HandleReady(const Json& message);
  bool CarryOut(const AuthStep& step);
  bool ExchangeCodeForToken(const std::string& code);
  void PickUpTokenResponse();
  uint32_t MsUntilResync(uint32_t now) const;
  void ReportSelfId(const std::string& id);
  void LogIpc(const std::string& message);
  int32_t NextNonce() { return ++nonce; }

  RpcState state = RpcState::Disconnected;
  bool awaitingReady = false;  // the handshake is sent, its answer not yet here
  std::wstring clientId;
  int32_t nonce = 0;
  int loggedResponses = 0;
  RpcAuthorization authorization;
  VoiceTracker voice;
  TokenExchange tokenExchange;
  // Last, so it goes first: the pipe is closed and the worker's wake cut
  // before tokenExchange waits for a request still running.
  RpcTransport transport;
};
