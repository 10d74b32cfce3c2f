// The connection to the Discord desktop client's local RPC pipe: handshake,
// authorization (AUTHORIZE, token exchange, AUTHENTICATE), and tracking of the
// selected voice channel. Everything runs on the UI thread except the token
// request, which a worker performs and Poll picks up.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "rpc/rpc_frame.h"
#include "rpc/token_exchange.h"
#include "rpc/voice_user.h"

class RpcClient {
 public:
  RpcClient() = default;
  ~RpcClient();
  RpcClient(const RpcClient&) = delete;
  RpcClient& operator=(const RpcClient&) = delete;

  // Opens the first of "\\.\pipe\discord-ipc-0".."9" that exists, performs
  // the handshake and sends AUTHORIZE.
  bool Connect(const std::wstring& clientId);
  void Disconnect();
  bool IsConnected() const { return connected; }
  // Handles at most one waiting frame; called on every main-loop pass while
  // connected.
  void Poll();
  // Interim until Poll learns to wait for the pipe: poll every 10 ms.
  uint32_t MsUntilPollDue(uint32_t) const { return connected ? 10 : 0xFFFFFFFF; }
  std::function<void()> onWake;

  std::wstring clientSecret;  // copied in before each Connect
  // Both are called on the UI thread from inside Poll. onVoiceUsers gets the
  // list itself, under its lock: copy what you keep, do not call back in.
  std::function<void(const std::vector<VoiceUser>&)> onVoiceUsers;
  std::function<void(const std::wstring&, const std::wstring&)> onMessage;
  // The user's own id, from READY and from AUTHENTICATE's answer.
  std::function<void(const std::wstring&)> onSelfId;

 private:
  // Transport.
  bool SendFrame(uint32_t opcode, const std::string& payload);
  bool SendCommand(const std::string& text);
  bool ReadExact(char* buffer, size_t size, DWORD start);
  bool ReadFrame(RpcFrame& frame);
  bool PerformHandshake(const std::wstring& id);
  void HandleFrame(const RpcFrame& frame);
  void ClosePipe();
  void ReportSelfId(const std::string& payload);
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
  void RequestSelectedVoiceChannel();
  void HandleSelectedVoiceChannel(const std::string& payload);
  void SubscribeChannelEvents(const std::string& channelId);
  void HandleVoiceEvent(const std::string& payload);
  void HandleMessageCreate(const std::string& payload);
  void PublishVoiceUsers();

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
  uint64_t pollCount = 0;
  int loggedResponses = 0;
  // Counts successful connects, so a token that arrives after its
  // connection was lost is not sent down a newer one.
  uint32_t connectionSerial = 0;
  TokenExchange tokenExchange;
};
