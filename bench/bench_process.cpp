// Figures of a running Voxmere.exe: start-up time, idle CPU and private
// memory, with the Discord simulator as its peer and notify_send for cards.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <cwctype>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "bench/bench.h"
#include "tests/support/child_process.h"
#include "tests/support/voxmere_instance.h"

namespace {

constexpr int kMembers = 20;
constexpr int kCards = 5;
constexpr DWORD kStartWaitMs = 20000;
constexpr DWORD kSettleMs = 1500;  // entry animations (500 ms) and decodes end
constexpr DWORD kCpuWindowMs = 10000;
constexpr DWORD kIdleWindowMs = 30000;
constexpr const char* kStartLine = "=== Voxmere Started ===";
// Written right after the first work pass, which draws the first frame (an
// overlay with nothing to show yet pushes none).
constexpr const char* kFirstFrameLine = "Checking BetterDiscord installation...";
constexpr const char* kBareWindowLine = "Bare window created";
// Starts of each program, after one not counted.
constexpr int kStarts = 9;

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

std::string ReadWholeFile(const std::wstring& path) {
  std::ifstream file(NarrowAscii(path), std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The first Linux process (seen through the Z: drive) whose /proc folder and
// first command-line word the test accepts; 0 when none (on Windows there is
// no such drive).
int FindLinuxProcess(const std::function<bool(const std::wstring& dir, const std::string& program)>& accept) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int found = 0;
  do {
    if (!std::iswdigit(entry.cFileName[0])) continue;
    const std::wstring dir = L"Z:\\proc\\" + std::wstring(entry.cFileName);
    std::string line = ReadWholeFile(dir + L"\\cmdline");
    if (accept(dir, std::string(line.c_str()))) found = _wtoi(entry.cFileName);
  } while (!found && FindNextFileW(search, &entry));
  FindClose(search);
  return found;
}

// Under Wine the process is also a Linux process, whose command line is its
// Windows path.
int LinuxPidOf(const std::wstring& exePath) {
  const std::wstring wanted = Lower(exePath);
  return FindLinuxProcess([&](const std::wstring&, const std::string& program) {
    return Lower(std::wstring(program.begin(), program.end())) == wanted;  // ASCII paths
  });
}

// The value of one variable in a /proc environ file (NUL-separated).
std::string EnvironValue(const std::wstring& environPath, const std::string& name) {
  std::istringstream entries(ReadWholeFile(environPath));
  const std::string wanted = name + "=";
  for (std::string entry; std::getline(entries, entry, '\0');)
    if (entry.compare(0, wanted.size(), wanted) == 0) return entry.substr(wanted.size());
  return std::string();
}

// The Linux pid of the wineserver of this process's Wine prefix (the one
// Voxmere.exe, started from here, talks to); 0 when not found.
int LinuxWineserverPid() {
  const std::string prefix = EnvironValue(L"Z:\\proc\\self\\environ", "WINEPREFIX");
  return FindLinuxProcess([&](const std::wstring& dir, const std::string& program) {
    size_t slash = program.rfind('/');
    // Debian names it wineserver64.
    return program.compare(slash == std::string::npos ? 0 : slash + 1, 10, "wineserver") == 0 &&
           EnvironValue(dir + L"\\environ", "WINEPREFIX") == prefix;
  });
}

// User plus system time in 100 ns units: from Linux's /proc when the process
// runs under Wine (Wine 8 gives no CPU times for another process), else from
// GetProcessTimes. -1 when neither answers.
double CpuTime100ns(HANDLE process, int linuxPid) {
  if (linuxPid) {
    std::string stat = ReadWholeFile(L"Z:\\proc\\" + std::to_wstring(linuxPid) + L"\\stat");
    size_t end = stat.rfind(')');  // the name may hold spaces
    if (end == std::string::npos) return -1.0;
    std::istringstream fields(stat.substr(end + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip;  // fields 3..13
    double userTicks = 0, systemTicks = 0;
    if (!(fields >> userTicks >> systemTicks)) return -1.0;
    return (userTicks + systemTicks) * 100000.0;  // USER_HZ is 100 on Linux
  }
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1.0;
  auto wide = [](FILETIME t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return static_cast<double>(wide(kernel) + wide(user));
}

// CPU time over the window as a percentage of one core; -1 when unmeasured.
// With serverPid, the wineserver's share over the same window goes to serverPercent.
double CpuPercent(HANDLE process, int linuxPid, DWORD windowMs, int serverPid = 0, double* serverPercent = nullptr) {
  double before = CpuTime100ns(process, linuxPid);
  double serverBefore = serverPid ? CpuTime100ns(nullptr, serverPid) : -1.0;
  double start = NowMs();
  Sleep(windowMs);
  double after = CpuTime100ns(process, linuxPid);
  double serverAfter = serverPid ? CpuTime100ns(nullptr, serverPid) : -1.0;
  double wallMs = NowMs() - start;
  auto percent = [wallMs](double from, double to) { return (to - from) / 10000.0 / wallMs * 100.0; };
  if (serverPercent && serverBefore >= 0 && serverAfter >= 0) *serverPercent = percent(serverBefore, serverAfter);
  if (before < 0 || after < 0) return -1.0;
  return percent(before, after);
}

// Milliseconds after `startMs` at which each line first shows in the file,
// read every millisecond (the programs append and close it line by line); -1
// for a line that did not show within kStartWaitMs.
std::vector<double> WatchLines(const std::wstring& path, double startMs, const std::vector<std::string>& lines) {
  std::vector<double> at(lines.size(), -1.0);
  for (size_t shown = 0; shown < lines.size() && NowMs() - startMs < kStartWaitMs; Sleep(1)) {
    const std::string text = ReadWholeFile(path);
    const double now = NowMs() - startMs;
    for (size_t i = 0; i < lines.size(); ++i)
      if (at[i] < 0 && text.find(lines[i]) != std::string::npos) at[i] = now, ++shown;
  }
  return at;
}

// The floor: bare_window.exe, from CreateProcess to its line in debug.log.
double TimeBareWindowStart(const VoxmereInstance& instance) {
  DeleteFileW(instance.PathOf(L"debug.log").c_str());
  ChildProcess bare;
  const double startMs = NowMs();
  if (!bare.Start(L"\"" + instance.PathOf(L"bare_window.exe") + L"\"", instance.Directory(), false)) return -1.0;
  const double at = WatchLines(instance.PathOf(L"debug.log"), startMs, {kBareWindowLine})[0];
  return bare.WaitExit(10000) == 0 ? at : -1.0;
}

// Process start to the first log line and to the end of the first work pass.
struct StartSamples {
  std::vector<double> toLog;
  std::vector<double> toPass;
};

// One start of the instance's Voxmere.exe to its first work pass, then the
// tray's Exit; false when either line did not show or it did not exit cleanly.
bool TimeVoxmereStart(VoxmereInstance& instance, StartSamples* samples) {
  DeleteFileW(instance.PathOf(L"debug.log").c_str());
  const double startMs = NowMs();
  if (!instance.Start()) return false;
  const std::vector<double> at = WatchLines(instance.PathOf(L"debug.log"), startMs, {kStartLine, kFirstFrameLine});
  if (instance.Exit(10000) != 0 || at[0] < 0 || at[1] < 0) return false;
  if (samples) samples->toLog.push_back(at[0]), samples->toPass.push_back(at[1]);
  return true;
}

// As installed: the configuration, and the bundled emoji font beside the program.
bool PrepareStartFolder(const VoxmereInstance& instance) {
  return instance.Ready() && instance.WriteConfig(TestConfig()) &&
         CopyFileW((TestBinDirectory() + L"\\Twemoji.ttf").c_str(), instance.PathOf(L"Twemoji.ttf").c_str(), FALSE);
}

// Voxmere.exe, the floor beside it in one folder and, when named, another
// build's Voxmere.exe in a folder of its own, started in turn, each after one
// start that is not counted (a program's first start in a prefix reads its
// files from the disk).
void MeasureStarts(const std::wstring& beforeExe, ProcessFigures& figures) {
  VoxmereInstance instance(L"voxmere_bench_start"), before(L"voxmere_bench_before");
  if (!PrepareStartFolder(instance) ||
      !CopyFileW((TestBinDirectory() + L"\\bare_window.exe").c_str(), instance.PathOf(L"bare_window.exe").c_str(),
                 FALSE) ||
      (!beforeExe.empty() &&
       (!PrepareStartFolder(before) || !CopyFileW(beforeExe.c_str(), before.PathOf(L"Voxmere.exe").c_str(), FALSE)))) {
    figures.failure = "the start-up scratch folders could not be prepared";
    return;
  }
  std::vector<double> bare;
  StartSamples now, then;
  for (int i = 0; i <= kStarts && figures.failure.empty(); ++i) {
    const double floorMs = TimeBareWindowStart(instance);
    if (floorMs < 0) figures.failure = "bare_window.exe did not write its line";
    else if (i > 0) bare.push_back(floorMs);
    if (figures.failure.empty() && !TimeVoxmereStart(instance, i > 0 ? &now : nullptr))
      figures.failure = "no first work pass was logged";
    if (figures.failure.empty() && !beforeExe.empty() && !TimeVoxmereStart(before, i > 0 ? &then : nullptr))
      figures.failure = "the other build's Voxmere.exe logged no first work pass";
  }
  figures.bareWindow = Summarize(bare);
  figures.toLogStart = Summarize(now.toLog);
  figures.toFirstFrame = Summarize(now.toPass);
  figures.beforeToLogStart = Summarize(then.toLog);
  figures.beforeToFirstFrame = Summarize(then.toPass);
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

  if (!instance.Start({{L"VOXMERE_API_BASE", base}, {L"VOXMERE_CDN_BASE", base}})) {
    figures.failure = "Voxmere.exe did not start";
    return;
  }
  if (!instance.WaitLogged(kFirstFrameLine, 1, kStartWaitMs)) {
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
  int linuxPid = LinuxPidOf(instance.PathOf(L"Voxmere.exe"));
  figures.cpuSource = linuxPid ? "Linux /proc" : "GetProcessTimes";

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
    figures.idleCpuPercent =
        CpuPercent(process, linuxPid, kIdleWindowMs, LinuxWineserverPid(), &figures.idleServerCpuPercent);
    for (int i = 0; i < kCards && figures.failure.empty(); ++i)
      if (!SendCard(i)) figures.failure = "notify_send failed";
    if (figures.failure.empty() && !instance.WaitLogged("Added notification", kCards, 10000))
      figures.failure = "the cards did not arrive";
  }
  if (figures.failure.empty()) {
    Sleep(kSettleMs);  // slid in; they stand still from here on
    figures.loadedPrivateMb = PrivateMb(process);
    figures.cardsCpuPercent = CpuPercent(process, linuxPid, kCpuWindowMs);
  }
  CloseHandle(process);
}

}  // namespace

ProcessFigures MeasureProcess(const std::wstring& beforeExe) {
  ProcessFigures figures;
  MeasureStarts(beforeExe, figures);
  VoxmereInstance instance(L"voxmere_bench");
  ChildProcess sim;
  if (figures.failure.empty()) Run(instance, sim, figures);
  if (instance.Process().Running()) instance.Exit(10000);
  sim.Kill();
  figures.ok = figures.failure.empty();
  return figures;
}
