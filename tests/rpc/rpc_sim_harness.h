// In-process rig for RpcClient tests under Wine: the simulator's pipe
// server and token endpoint in this process, debug.log in a temp file.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rpc/rpc_client.h"
#include "tools/discord_sim/sim_pipe_server.h"
#include "tools/discord_sim/sim_web.h"
#include "tools/loopback_http/loopback_http_server.h"

// Two channels; bob self-muted, carol deafened, a bot; no timeline.
extern const char* const kTestScenario;

class RpcSimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the simulator on pipe n with a scenario text.
  void StartSim(const std::string& scenarioText = kTestScenario, int pipe = 0);
  bool ConnectClient();
  // Polls the client until done() holds; false after timeoutMs.
  bool PollUntil(const std::function<bool()>& done, uint32_t timeoutMs = 10000);
  bool PollUntilLogged(const std::string& fragment, uint32_t timeoutMs = 10000);
  // Runs the whole chain up to a member list.
  void ConnectAndAuthenticate();

  std::vector<std::string> LogLines() const;
  bool Logged(const std::string& fragment) const;
  size_t CountLogged(const std::string& fragment) const;
  // Lines the simulator printed that contain fragment.
  std::vector<std::string> SimLines(const std::string& fragment) const;

  SimTokenMode tokenMode = SimTokenMode::Ok;
  uint32_t tokenDelayMs = 0;
  SimAuthRegistry auth;
  LoopbackHttpServer http;
  std::unique_ptr<SimPipeServer> sim;
  std::unique_ptr<RpcClient> client;
  std::vector<std::vector<VoiceUser>> lists;  // every list onVoiceUsers got
  std::vector<std::pair<std::wstring, std::wstring>> messages;

 private:
  std::wstring logPath_;
};

const VoiceUser* FindUser(const std::vector<VoiceUser>& users, const wchar_t* id);
