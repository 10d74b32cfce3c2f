// Figures of a running Voxmere.exe: start-up time, idle CPU and private
// memory, with the Discord simulator as its peer and notify_send for cards.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <fstream>
#include <sstream>

#include "bench/bench.h"
#include "tests/support/child_process.h"
#include "tests/support/voxmere_instance.h"

namespace {

constexpr int kMembers = 20;
constexpr int kCards = 5;
constexpr DWORD kStartWaitMs = 20000;
constexpr DWORD kSettleMs = 1500;  // entry animations (500 ms) and decodes end
constexpr DWORD kCpuWindowMs = 10000;
constexpr const char* kStartLine = "=== Voxmere Started ===";
constexpr const char* kFirstFrameLine = "[Renderer] EndFrame:";

std::wstring MemberId(int i) { return L"3000000000000000" + std::to_wstring(10 + i); }
std::wstring AvatarHash(int i) { return std::wstring(30, L'b') + std::to_wstring(10 + i); }

// A channel of kMembers with avatars, a few muted or deafened, and no
// timeline: nothing changes once it is shown.
std::string ScenarioText() {
  std::ostringstream text;
  text << "user " << NarrowAscii(MemberId(0)) << " bench0 avatar=" << NarrowAscii(AvatarHash(0)) << "\n";
  text << "channel 400000000000000001 Bench 500000000000000001\n";
  for (int i = 0; i < kMembers; ++i) {
    text << "member " << NarrowAscii(MemberId(i)) << " bench" << i << " global=Bench" << i
         << " avatar=" << NarrowAscii(AvatarHash(i));
    if (i == 2) text << " mute";
    if (i == 3) text << " deaf";
    text << "\n";
  }
  text << "select 400000000000000001\nauthorize grant\nauthenticate accept\n";
  return text.str();
}

// A free loopback port for the simulator, which starts after Voxmere.exe.
int FreePort() {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 0;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int port = 0;
  int length = sizeof(address);
  if (s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  if (s != INVALID_SOCKET) closesocket(s);
  WSACleanup();
  return port;
}

double PrivateMb(HANDLE process) {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters)))
    return -1.0;
  // Wine leaves PrivateUsage 0 for another process but fills PagefileUsage,
  // which Windows reports as the same commit charge.
  SIZE_T bytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
  return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

ULONGLONG CpuTime100ns(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  auto wide = [](FILETIME t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return wide(kernel) + wide(user);
}

// CPU time over the window as a percentage of one core.
double CpuPercent(HANDLE process, DWORD windowMs) {
  ULONGLONG before = CpuTime100ns(process);
  double start = NowMs();
  Sleep(windowMs);
  ULONGLONG after = CpuTime100ns(process);
  double wallMs = NowMs() - start;
  // Wine 8 reports no CPU time at all for another process: not a measurement.
  if (before == 0 && after == 0) return -1.0;
  return static_cast<double>(after - before) / 10000.0 / wallMs * 100.0;
}

// Milliseconds after `startMs` at which each marker first shows in the log,
// read every millisecond (the log is appended and closed line by line).
bool WatchStartMarkers(const VoxmereInstance& instance, double startMs, ProcessFigures& figures) {
  std::string path = NarrowAscii(instance.PathOf(L"debug.log"));
  while (NowMs() - startMs < kStartWaitMs) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    std::string text = bytes.str();
    double at = NowMs() - startMs;
    if (figures.toLogStartMs < 0 && text.find(kStartLine) != std::string::npos) figures.toLogStartMs = at;
    if (text.find(kFirstFrameLine) != std::string::npos) {
      figures.toFirstFrameMs = at;
      return true;
    }
    Sleep(1);
  }
  return false;
}

bool SendCard(int i) {
  ChildProcess sender;
  std::wstring command = L"\"" + TestBinDirectory() + L"\\notify_send.exe\" --pipe --username bench" +
                         std::to_wstring(i) + L" --displayName Bench" + std::to_wstring(i) +
                         L" --content \"A card that stays on screen for the memory figure\" --channelName general"
                         L" --serverName Bench --userId " + MemberId(i) + L" --avatarHash " + AvatarHash(i);
  return sender.Start(command, TestBinDirectory(), true) && sender.WaitExit(10000) == 0;
}

void Run(VoxmereInstance& instance, ChildProcess& sim, ProcessFigures& figures) {
  int port = FreePort();
  std::wstring base = L"http://127.0.0.1:" + std::to_wstring(port);
  Config config = TestConfig();
  config.notification_duration = 3600 * 1000;  // the cards stay for the memory figure
  config.avatar_size = 40;  // all members on a 1080-pixel screen, so every avatar is fetched
  if (!port || !instance.Ready() || !instance.WriteConfig(config) ||
      !instance.WriteFile(L"bench_channel.txt", ScenarioText())) {
    figures.failure = "the scratch directory could not be prepared";
    return;
  }

  double startMs = NowMs();
  if (!instance.Start({{L"VOXMERE_API_BASE", base}, {L"VOXMERE_CDN_BASE", base}})) {
    figures.failure = "Voxmere.exe did not start";
    return;
  }
  if (!WatchStartMarkers(instance, startMs, figures)) {
    figures.failure = "no first frame was logged";
    return;
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, instance.Process().Id());
  if (!process) {
    figures.failure = "Voxmere.exe could not be opened for its counters";
    return;
  }
  Sleep(kSettleMs);
  figures.startPrivateMb = PrivateMb(process);

  std::wstring simCommand = L"\"" + TestBinDirectory() + L"\\discord_sim.exe\" --pipe 0 --scenario \"" +
                            instance.PathOf(L"bench_channel.txt") + L"\" --http-port " + std::to_wstring(port);
  if (!sim.Start(simCommand, TestBinDirectory(), true) ||
      !WaitFor([&] { return !sim.Lines("LISTENING").empty(); }, 10000)) {
    figures.failure = "the Discord simulator did not start";
  } else if (!instance.WaitLogged("SetVoiceUsers: " + std::to_string(kMembers) + " users", 1, kStartWaitMs)) {
    figures.failure = "Voxmere.exe did not show the simulator's channel";
  } else if (!WaitFor([&] { return sim.Lines("HTTP GET /avatars/").size() >= kMembers; }, 10000)) {
    figures.failure = "not every avatar was requested";
  }
  figures.members = kMembers;
  figures.avatarsServed = static_cast<int>(sim.Lines("HTTP GET /avatars/").size());
  if (figures.failure.empty()) {
    Sleep(kSettleMs);
    figures.idleCpuPercent = CpuPercent(process, kCpuWindowMs);
    for (int i = 0; i < kCards && figures.failure.empty(); ++i)
      if (!SendCard(i)) figures.failure = "notify_send failed";
    if (figures.failure.empty() && !instance.WaitLogged("Added notification", kCards, 10000))
      figures.failure = "the cards did not arrive";
  }
  if (figures.failure.empty()) {
    Sleep(kSettleMs);  // slid in; they stand still from here on
    figures.loadedPrivateMb = PrivateMb(process);
    figures.cardsCpuPercent = CpuPercent(process, kCpuWindowMs);
  }
  CloseHandle(process);
}

}  // namespace

ProcessFigures MeasureProcess() {
  ProcessFigures figures;
  VoxmereInstance instance(L"voxmere_bench");
  ChildProcess sim;
  Run(instance, sim, figures);
  if (instance.Process().Running()) instance.Exit(10000);
  sim.Kill();
  figures.ok = figures.failure.empty();
  return figures;
}
