// Serves "\\.\pipe\discord-ipc-N" for the simulated Discord client: one
// client at a time, overlapped I/O on one thread, the scenario's timeline
// run between reads. Every connection, received and sent frame becomes a
// text line ("CONNECTED", "RECV op=1 {...}", "SEND op=3 ...",
// "DISCONNECTED", "RESTARTING", "RESTARTED"), and so does what the user and
// Discord's web API would see ("CONSENT DIALOG n", "HANDSHAKE QUEUED for
// MS ms", "HANDSHAKE RELEASED", "API FETCH /channels/ID/messages n"); tests
// wait for them and the console program prints them.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/discord_sim/sim_discord.h"

class SimPipeServer {
 public:
  SimPipeServer(SimScenario scenario, SimAuthRegistry& auth);
  ~SimPipeServer();
  SimPipeServer(const SimPipeServer&) = delete;
  SimPipeServer& operator=(const SimPipeServer&) = delete;

  // Called for each line as it happens, on the server thread. Set before Start.
  std::function<void(const std::string&)> onLine;

  // Creates the pipe and starts serving; false when the pipe already exists
  // or cannot be created.
  bool Start(int pipeIndex);
  // Ends the connection (the client sees a broken pipe) and the pipe.
  void Stop();

  // For the connected client, from any thread; ignored while none is
  // connected. A step line as in a scenario timeline ("ping abc").
  bool Inject(const std::string& stepLine);
  // Bytes written as they are, in one write (bursts, broken headers).
  void SendRaw(const std::string& bytes);
  // Drops the connection as a crashing Discord would.
  void DropClient();

  std::vector<std::string> Lines() const;
  size_t CountLines(const std::string& fragment) const;
  // Waits until at least count lines contain fragment.
  bool WaitForLines(const std::string& fragment, size_t count, uint32_t timeoutMs) const;

 private:
  HANDLE CreateInstance();
  void Run();
  bool Restart();
  void Serve();
  void StopReading(OVERLAPPED& read, const char* buffer, std::string& inbox, bool* closeRequested);
  bool WriteBytes(const std::string& bytes);
  bool SendReply(const SimReply& reply);
  bool Deliver(const SimReply& reply, bool* closeRequested);
  bool DrainInbox(std::string& inbox, bool* closeRequested);
  void AwaitClientGone(OVERLAPPED& read, char* buffer, DWORD size);
  void Queue(SimStep step);
  void AddLine(const std::string& line);

  SimDiscord sim_;
  std::wstring pipeName_;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  // Set by a step's reply on the serving thread.
  bool restartRequested_ = false;
  ULONGLONG stallEnd_ = 0;
  bool cutOff_ = false;  // a frame was cut: nothing more is written on this connection
  HANDLE stopEvent_ = nullptr;
  HANDLE actionEvent_ = nullptr;
  HANDLE ioEvent_ = nullptr;     // connect and read
  HANDLE writeEvent_ = nullptr;
  std::thread thread_;

  mutable std::mutex mutex_;  // guards the members below
  mutable std::condition_variable lineAdded_;
  std::vector<std::string> lines_;
  std::deque<SimStep> actions_;  // injected steps for the serving thread
  bool clientConnected_ = false;
};
