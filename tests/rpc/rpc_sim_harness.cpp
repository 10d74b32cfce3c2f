#include "tests/rpc/rpc_sim_harness.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/log.h"

const char* const kTestScenario = R"(user 100000000000000001 alice global=Alice
channel 300000000000000001 General
member 100000000000000001 alice global=Alice avatar=a1c3
member 100000000000000002 bob global=Bob nick=Bobby self_mute
member 100000000000000003 carol deaf
member 100000000000000005 tunebot bot
channel 300000000000000002 Gaming
member 100000000000000006 erin global=Erin
select 300000000000000001
)";

void RpcSimTest::SetUp() {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  logPath_ = std::wstring(dir) + L"voxmere_rpc_test_" + std::to_wstring(GetCurrentProcessId()) + L".log";
  DeleteFileW(logPath_.c_str());
  g_logPath = logPath_;

  http.Route("POST", "/api/oauth2/token", [this](const LoopbackHttpRequest& request) {
    SimHttpReply reply = TokenEndpointReply(request.body, tokenMode, auth);
    LoopbackHttpResponse response;
    response.status = reply.status;
    response.contentType = reply.contentType;
    response.body = reply.body;
    response.delayMs = tokenDelayMs;
    return response;
  });
  ASSERT_TRUE(http.Start());
  _putenv(("VOXMERE_API_BASE=" + http.BaseUrl()).c_str());

  client = std::make_unique<RpcClient>();
  client->clientSecret = L"TestSecret123";
  client->onVoiceUsers = [this](const std::vector<VoiceUser>& users) { lists.push_back(users); };
  client->onMessage = [this](const std::wstring& a, const std::wstring& t) { messages.emplace_back(a, t); };
}

void RpcSimTest::TearDown() {
  if (HasFailure())
    for (const std::string& line : LogLines()) std::printf("LOG %s\n", line.c_str());
  client.reset();
  if (sim) sim->Stop();
  http.Stop();
  _putenv("VOXMERE_API_BASE=");
  g_logPath.clear();
  DeleteFileW(logPath_.c_str());
}

void RpcSimTest::StartSim(const std::string& scenarioText, int pipe) {
  std::string error;
  auto scenario = ParseScenario(scenarioText, &error);
  ASSERT_TRUE(scenario) << error;
  sim = std::make_unique<SimPipeServer>(*scenario, auth);
  ASSERT_TRUE(sim->Start(pipe));
}

bool RpcSimTest::ConnectClient() { return client->Connect(L"1180000000000000000"); }

bool RpcSimTest::PollUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    client->Poll();
    Sleep(1);
  }
  return true;
}

bool RpcSimTest::PollUntilLogged(const std::string& fragment, uint32_t timeoutMs) {
  return PollUntil([&] { return Logged(fragment); }, timeoutMs);
}

void RpcSimTest::ConnectAndAuthenticate() {
  ASSERT_TRUE(ConnectClient());
  ASSERT_TRUE(PollUntilLogged("[IPC] Authentication successful!"));
  // Every answer read, so the pipe is empty for the test's own frames.
  ASSERT_TRUE(PollUntil([&] { return CountLogged("[IPC] SUBSCRIBE response received") == 6 && !lists.empty(); }));
}

std::vector<std::string> RpcSimTest::LogLines() const {
  std::ifstream file(std::string(logPath_.begin(), logPath_.end()), std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool RpcSimTest::Logged(const std::string& fragment) const { return CountLogged(fragment) > 0; }

size_t RpcSimTest::CountLogged(const std::string& fragment) const {
  size_t count = 0;
  for (const std::string& line : LogLines())
    if (line.find(fragment) != std::string::npos) ++count;
  return count;
}

std::vector<std::string> RpcSimTest::SimLines(const std::string& fragment) const {
  std::vector<std::string> found;
  for (const std::string& line : sim->Lines())
    if (line.find(fragment) != std::string::npos) found.push_back(line);
  return found;
}

const VoiceUser* FindUser(const std::vector<VoiceUser>& users, const wchar_t* id) {
  for (const VoiceUser& u : users)
    if (u.id == id) return &u;
  return nullptr;
}
