// The browser source's server on 127.0.0.1: the page, the avatars the
// user-interface thread has handed over, and two event streams that push
// the members and the cards. A listener thread sleeps on its accept event;
// each connection has a detached thread that sleeps on its socket, the stop
// event and its own news event, so an open page at rest costs nothing.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "app/win_handles.h"

// What one local sender can make the process hold.
constexpr size_t kMaxBrowserClients = 16;

class BrowserSourceServer {
 public:
  BrowserSourceServer() = default;
  ~BrowserSourceServer();
  BrowserSourceServer(const BrowserSourceServer&) = delete;
  BrowserSourceServer& operator=(const BrowserSourceServer&) = delete;

  // Listens on the first free port from firstPort on (kBrowserSourcePortTries
  // of them); false, with a log line, when none is free or a thread cannot start.
  bool Start(uint16_t firstPort);
  // Returns once the listener and every connection's thread have ended.
  void Stop();
  // The port listened on; 0 while stopped.
  uint16_t Port() const { return port_.load(); }
  // Whether a voice page listens now: no page, no work for the caller.
  bool HasVoiceStreams() const { return voiceStreams_.load() > 0; }

  // Called on a connection's thread when a voice page starts listening, so
  // the current members can be published; set before Start.
  std::function<void()> onVoiceStreamOpened;

  // User-interface thread. The members' state as the page reads it; the same
  // text again sends nothing.
  void PublishVoice(const std::string& stateJson);
  void PublishCard(const std::string& cardJson);
  // A cached picture's bytes by the key its path names; the first offer of a
  // key stands.
  void OfferAvatar(const std::string& key, std::shared_ptr<const std::string> bytes);
  bool HasAvatar(const std::string& key) const;

 private:
  struct Stream {
    bool voice = true;
    HANDLE news = nullptr;
  };

  void ListenLoop(SOCKET listener);
  void Accept(SOCKET client);
  void HandleClient(SOCKET client);
  void Answer(SOCKET client, const std::string& head);
  void RunEventStream(SOCKET client, bool voice);
  // What the stream has not sent yet; empty when nothing.
  std::string TakeNews(bool voice, uint64_t* sentVoice, uint64_t* sentCard);
  void Release(SOCKET client);
  void WakeStreams();

  std::atomic<bool> running_{false};
  std::atomic<uint16_t> port_{0};
  std::atomic<int> voiceStreams_{0};
  EventHandle stopEvent_;
  std::thread listenThread_;

  // Everything below under mutex_.
  mutable std::mutex mutex_;
  std::string voiceJson_;
  uint64_t voiceVersion_ = 0;
  std::deque<std::pair<uint64_t, std::string>> cards_;  // the newest few, by sequence number
  uint64_t cardSequence_ = 0;
  std::map<std::string, std::shared_ptr<const std::string>> avatars_;
  std::set<Stream*> streams_;
  std::set<SOCKET> clients_;  // live connection threads (detached) and their sockets
  std::condition_variable clientsDone_;
};
