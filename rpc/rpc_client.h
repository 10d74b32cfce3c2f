// The connection to the Discord desktop client's local RPC pipe: handshake,
// authorization (AUTHORIZE, token exchange, AUTHENTICATE), and tracking of the
// selected voice channel. Everything runs on the UI thread except the token
// request, which a worker performs and Poll picks up. The pipe is read with
// one overlapped read kept pending, so Poll never waits for Discord; every
// write is bounded.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rpc/rpc_frame.h"
#include "rpc/token_exchange.h"
#include "rpc/voice_user.h"

struct VoiceSnapshot;

class RpcClient {
 public:
  RpcClient();
  ~RpcClient();
  RpcClient(const RpcClient&) = delete;
  RpcClient& operator=(const RpcClient&) = delete;

  // Opens the first of "\\.\pipe\discord-ipc-0".."9" that exists, performs
  // the handshake (waiting at most 2 s for its answer) and sends AUTHORIZE.
  bool Connect(const std::wstring& clientId);
  // Also ends every speaking flag: no ring outlives its connection.
  void Disconnect();
  bool IsConnected() const { return connected; }
  // Never waits on the pipe: handles every whole frame received so far,
  // picks up the token result and sends the periodic snapshot request.
  void Poll();
  // How long the caller may wait for onWake before Poll is due anyway (the
  // next snapshot request, a started frame's deadline); 0xFFFFFFFF when
  // disconnected or when nothing is due.
  uint32_t MsUntilPollDue(uint32_t now) const;

  std::wstring clientSecret;  // copied in before each Connect
  // Both are called on the UI thread from inside Poll. onVoiceUsers gets the
  // list itself, under its lock: copy what you keep, do not call back in.
  std::function<void(const std::vector<VoiceUser>&)> onVoiceUsers;
  std::function<void(const std::wstring&, const std::wstring&)> onMessage;
  // The user's own id, from READY and from AUTHENTICATE's answer.
  std::function<void(const std::wstring&)> onSelfId;
  // Set before Connect. Called on another thread whenever Poll has work
  // (bytes arrived, the pipe broke, the token request finished); never after
  // the destructor has returned.
  std::function<void()> onWake;

 private:
  // Transport.
  bool SendFrame(uint32_t opcode, const std::string& payload);
  bool SendCommand(const std::string& text);
  bool StartRead(HANDLE event);
  bool FinishRead(bool wait);
  bool ReadArrived() const;
  bool ReceiveNow();
  bool TakeFrame(RpcFrame& frame);
  bool FrameOverdue(uint32_t now) const;
  bool PerformHandshake(const std::wstring& id);
  bool AwaitHandshakeAnswer(RpcFrame& answer);
  void HandleFrame(const RpcFrame& frame);
  void ClosePipe();
  void ReportSelfId(const std::string& payload);
  void LoseConnection(const std::string& why);
  void LogIpc(const std::string& message);
  void LogExcerpt(const char* label, const std::string& text, size_t maxBytes);
  int32_t NextNonce() { return ++nonce; }

  // Authorization.
  void SendAuthorize();
  void HandleAuthorizeResponse(const std::string& payload);
  void ExchangeCodeForToken(const std::string& code);
  void PickUpTokenResponse();
  void FinishTokenExchange(const HttpResult& http);
  void SendAuthenticate(const std::string& token);
  void HandleAuthenticateResponse(const std::string& payload);

  // Voice tracking.
  void SubscribeVoiceChannelSelect();
  void RequestSelectedVoiceChannel(bool reportInFull);
  bool RepeatsKnownChannel(VoiceSnapshot& snapshot);
  void HandleSelectedVoiceChannel(const std::string& payload);
  void SubscribeChannelEvents(const std::string& channelId);
  void HandleVoiceEvent(const std::string& payload);
  void HandleMessageCreate(const std::string& payload);
  void PublishVoiceUsers();

  // Shared with the token worker, which may outlive this object.
  struct WakeLink;
  static void CALLBACK OnReadSignalled(void* self, BOOLEAN timedOut);

  HANDLE pipe = INVALID_HANDLE_VALUE;
  std::atomic<bool> connected{false};
  std::atomic<bool> authenticated{false};
  std::atomic<bool> authorizing{false};  // an AUTHORIZE is outstanding on this pipe
  std::wstring clientId;
  std::vector<VoiceUser> voiceUsers;
  std::mutex voiceUsersMutex;
  std::string currentChannelId;
  std::string accessToken;
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
  HANDLE syncEvent = nullptr;   // manual-reset; the UI thread's own waits (writes, handshake)
  HANDLE readWait = nullptr;    // the thread-pool wait that calls onWake
  std::shared_ptr<WakeLink> wakeLink;
  // Counts successful connects, so a token that arrives after its
  // connection was lost is not sent down a newer one.
  uint32_t connectionSerial = 0;
  TokenExchange tokenExchange;
};
