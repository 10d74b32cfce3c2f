// discord_sim: a stand-in for the Discord desktop client's local RPC pipe,
// with the OAuth2 token endpoint and the avatar CDN on a loopback port.
//
//   discord_sim --pipe 0 --scenario default --http-port 8765 --token-mode ok
//
// Options: --pipe N (0-9), --scenario NAME|FILE (NAME is looked up in
// scenarios\ beside the exe), --http-port P (0: any free port; absent: no
// web side), --token-mode ok|error|notjson, --http-delay MS (token answers
// wait this long), --cdn-delay MS (avatars do, as across the internet),
// --duration SECONDS, --exit-on-eof (stop when standard
// input ends: a parent that dies takes the simulator with it).
// Every line it prints is one event; tests read them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "tools/discord_sim/sim_pipe_server.h"
#include "tools/discord_sim/sim_web.h"
#include "tools/loopback_http/loopback_http_server.h"

namespace {

HANDLE g_stopEvent = nullptr;
std::mutex g_printMutex;

void PrintLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_printMutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

BOOL WINAPI OnConsoleControl(DWORD) {
  SetEvent(g_stopEvent);
  return TRUE;
}

struct Options {
  int pipe = 0;
  std::string scenario = "default";
  int httpPort = -1;
  SimTokenMode tokenMode = SimTokenMode::Ok;
  uint32_t httpDelayMs = 0;
  uint32_t cdnDelayMs = 0;
  uint32_t durationSeconds = 0;
  bool exitOnEof = false;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--exit-on-eof") {
      options.exitOnEof = true;
      continue;
    }
    if (!hasValue) return false;
    std::string value = argv[++i];
    if (arg == "--pipe") options.pipe = std::atoi(value.c_str());
    else if (arg == "--scenario") options.scenario = value;
    else if (arg == "--http-port") options.httpPort = std::atoi(value.c_str());
    else if (arg == "--http-delay") options.httpDelayMs = static_cast<uint32_t>(std::atoi(value.c_str()));
    else if (arg == "--cdn-delay") options.cdnDelayMs = static_cast<uint32_t>(std::atoi(value.c_str()));
    else if (arg == "--duration") options.durationSeconds = static_cast<uint32_t>(std::atoi(value.c_str()));
    else if (arg == "--token-mode" && value == "ok") options.tokenMode = SimTokenMode::Ok;
    else if (arg == "--token-mode" && value == "error") options.tokenMode = SimTokenMode::Error;
    else if (arg == "--token-mode" && value == "notjson") options.tokenMode = SimTokenMode::NotJson;
    else return false;
  }
  return options.pipe >= 0 && options.pipe <= 9 && options.httpPort <= 65535;
}

std::string ExeDirectory() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  return dir.substr(0, dir.find_last_of("\\/"));
}

std::string ScenarioPath(const std::string& nameOrPath) {
  if (nameOrPath.find_first_of("\\/") != std::string::npos || nameOrPath.find('.') != std::string::npos)
    return nameOrPath;
  return ExeDirectory() + "\\scenarios\\" + nameOrPath + ".txt";
}

bool ReadFileText(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  text = content.str();
  return true;
}

// The form body with the secret's value left out of the printout.
std::string DescribeTokenRequest(const std::string& body) {
  return "client_id=" + FormField(body, "client_id") + " client_secret=(" +
         std::to_string(FormField(body, "client_secret").size()) + " chars) grant_type=" +
         FormField(body, "grant_type") + " code=" + FormField(body, "code");
}

void RouteWeb(LoopbackHttpServer& http, const Options& options, SimAuthRegistry& auth) {
  http.Route("POST", "/api/oauth2/token", [&options, &auth](const LoopbackHttpRequest& request) {
    SimHttpReply reply = TokenEndpointReply(request.body, options.tokenMode, auth);
    PrintLine("HTTP POST /api/oauth2/token " + DescribeTokenRequest(request.body) + " -> " +
              std::to_string(reply.status));
    LoopbackHttpResponse response;
    response.status = reply.status;
    response.contentType = reply.contentType;
    response.body = reply.body;
    response.delayMs = options.httpDelayMs;
    return response;
  });
  auto avatar = [&options](const LoopbackHttpRequest& request) {
    LoopbackHttpResponse response;
    response.delayMs = options.cdnDelayMs;
    auto png = AvatarPng(request.path, request.query);
    response.status = png ? 200 : 404;
    response.contentType = png ? "image/png" : "text/plain";
    response.body = png ? *png : "not found";
    PrintLine("HTTP GET " + request.path + " -> " + std::to_string(response.status));
    return response;
  };
  http.Route("GET", "/avatars/*", avatar);
  http.Route("GET", "/guilds/*", avatar);
}

void WatchStandardInput() {
  std::thread([] {
    char buffer[256];
    DWORD read = 0;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    while (ReadFile(input, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    }
    SetEvent(g_stopEvent);
  }).detach();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: discord_sim [--pipe N] [--scenario NAME|FILE] [--http-port P] "
                 "[--token-mode ok|error|notjson] [--http-delay MS] [--cdn-delay MS] [--duration S] "
                 "[--exit-on-eof]\n");
    return 2;
  }
  std::string path = ScenarioPath(options.scenario);
  std::string text, error;
  if (!ReadFileText(path, text)) {
    std::fprintf(stderr, "discord_sim: cannot read scenario %s\n", path.c_str());
    return 2;
  }
  auto scenario = ParseScenario(text, &error);
  if (!scenario) {
    std::fprintf(stderr, "discord_sim: %s: %s\n", path.c_str(), error.c_str());
    return 2;
  }

  g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  SimAuthRegistry auth;
  LoopbackHttpServer http;
  if (options.httpPort >= 0) {
    RouteWeb(http, options, auth);
    if (!http.Start(static_cast<uint16_t>(options.httpPort))) {
      std::fprintf(stderr, "discord_sim: cannot listen on 127.0.0.1:%d\n", options.httpPort);
      return 1;
    }
    PrintLine("HTTP " + http.BaseUrl());
  }
  SimPipeServer server(*scenario, auth);
  server.onLine = PrintLine;
  if (!server.Start(options.pipe)) {
    std::fprintf(stderr, "discord_sim: cannot create \\\\.\\pipe\\discord-ipc-%d (in use?)\n", options.pipe);
    return 1;
  }
  PrintLine("LISTENING \\\\.\\pipe\\discord-ipc-" + std::to_string(options.pipe));
  if (options.exitOnEof) WatchStandardInput();

  DWORD wait = options.durationSeconds ? options.durationSeconds * 1000 : INFINITE;
  WaitForSingleObject(g_stopEvent, wait);
  server.Stop();
  http.Stop();
  PrintLine("STOPPED");
  // The stdin watcher may still block in ReadFile; leave without waiting.
  std::fflush(stdout);
  ExitProcess(0);
}
