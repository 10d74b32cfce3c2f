// The connection to the Discord desktop client's local RPC pipe: handshake,
// authorization (AUTHORIZE, token exchange, AUTHENTICATE), and tracking of the
// selected voice channel. Everything runs on the UI thread except the token
// request, which a worker performs and Poll picks up. The pipe is read with
// one overlapped read kept pending, so nothing waits for Discord, READY
// included (Discord may queue a handshake for 30 s); every write is bounded.
// Each frame is parsed once, where it is cut from the pipe.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/json.h"
#include "rpc/rpc_frame.h"
#include "rpc/token_exchange.h"
#include "app/voice_user.h"

struct VoiceSnapshot;

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
  bool IsConnected() const { return connected; }
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
  // list itself, under its lock: copy what you keep, do not call back in.
  std::function<void(const std::vector<VoiceUser>&)> onVoiceUsers;
  // Where set, a speaking event comes here alone (user id, speaking) instead
  // of as the whole list, under the same lock.
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
  // Transport.
  bool SendFrame(uint32_t opcode, const std::string& payload);
  bool SendCommand(const std::string& text);
  bool StartRead();
  bool FinishRead(bool wait);
  bool ReadArrived() const;
  bool ReceiveNow();
  bool TakeFrame(RpcFrame& frame);
  bool FrameOverdue(uint32_t now) const;
  bool StillOnItsWay() const;
  void HandleFrame(const RpcFrame& frame);
  void HandleClose(const std::string& payload);
  void HandleMessage(const Json& message);
  void HandleReady(const Json& message);
  void ClosePipe();
  void SetState(RpcState next);
  void ReportSelfId(const Json& message);
  void LoseConnection(const std::string& why);
  void LogIpc(const std::string& message);
  void LogExcerpt(const char* label, const std::string& text, size_t maxBytes);
  int32_t NextNonce() { return ++nonce; }

  // Authorization.
  void StartAuthorization();
  void FailAuthorization(const std::string& why);
  void SendAuthorize();
  void HandleAuthorizeResponse(const Json& message);
  void ExchangeCodeForToken(const std::string& code);
  void PickUpTokenResponse();
  void FinishTokenExchange(const HttpResult& http);
  void RetryAuthorizationLater(const std::string& why);
  bool ReauthorizeDue(uint32_t now, uint32_t* msLeft) const;
  void SendAuthenticate(const std::string& token);
  void HandleAuthenticateResponse(const Json& message);

  // Voice tracking.
  void SubscribeVoiceChannelSelect();
  void RequestSelectedVoiceChannel(bool reportInFull);
  bool ResyncDue(uint32_t now, uint32_t* msLeft) const;
  bool RepeatsKnownChannel(VoiceSnapshot& snapshot);
  void HandleSelectedVoiceChannel(const Json& message);
  void FollowChannel(const std::string& channelId);
  void SendChannelEvents(const char* cmd, const std::string& channelId);
  void HandleVoiceEvent(const Json& message);
  void HandleMessageCreate(const Json& message);
  void PublishVoiceUsers();

  // Shared with the token worker, which may outlive this object.
  struct WakeLink;
  static void CALLBACK OnReadSignalled(void* self, BOOLEAN timedOut);

  HANDLE pipe = INVALID_HANDLE_VALUE;
  std::atomic<bool> connected{false};  // the pipe is open
  std::atomic<bool> authenticated{false};  // on this connection
  std::atomic<bool> authorizing{false};  // an AUTHORIZE is outstanding on this pipe
  bool authorizeAllowed = true;
  bool authorizationHeld = false;  // READY came while authorization was not allowed
  bool awaitingReady = false;  // the handshake is sent, its answer not yet here
  RpcState state = RpcState::Disconnected;
  std::wstring clientId;
  std::vector<VoiceUser> voiceUsers;
  std::mutex voiceUsersMutex;
  // The channel whose snapshot the list shows; events apply only while set.
  // Emptied when a channel selection changes, until its snapshot arrives.
  std::string currentChannelId;
  int64_t currentChannelType = -1;
  // The channel whose five events are subscribed on this connection.
  std::string subscribedChannelId;
  // Kept for the process (never on disk) and tried first on every
  // connection, so Discord asks the user for consent once.
  std::string accessToken;
  bool tokenFromEarlierConnection = false;
  // The token endpoint could not be reached: the user has consented, so a
  // later AUTHORIZE gets a code without a dialog. Failures count for the
  // process, so an endpoint that stays away is asked less and less often.
  bool reauthorizeWaiting = false;
  uint32_t reauthorizeSince = 0;
  int tokenTransportFailures = 0;
  int32_t nonce = 0;
  int loggedResponses = 0;
  uint32_t lastSnapshotRequest = 0;
  // The snapshots that authentication and a channel selection ask for are
  // logged and handed on even when nothing changed.
  bool reportNextSnapshot = false;
  // Transport state: received bytes not yet a whole frame, and since when.
  std::string inbox;
  uint32_t inboxSince = 0;
  std::vector<char> readBuffer;
  OVERLAPPED readOverlapped = {};
  bool readPending = false;
  HANDLE readEvent = nullptr;   // auto-reset; signalled when the read completes
  HANDLE syncEvent = nullptr;   // manual-reset; the UI thread's own waits for writes
  HANDLE readWait = nullptr;    // the thread-pool wait that calls onWake
  std::shared_ptr<WakeLink> wakeLink;
  // Counts successful connects, so a token that arrives after its
  // connection was lost is not sent down a newer one.
  uint32_t connectionSerial = 0;
  TokenExchange tokenExchange;
};
