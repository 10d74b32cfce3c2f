// voxmere_soak: runs Voxmere.exe for a while against the Discord simulator
// playing a channel with 50 speaking events a second, sends a notification a
// second over the pipe, samples the process's handles, GDI and USER objects
// and private memory, and says whether they stayed flat.
//
//   voxmere_soak.exe [--minutes N] [--sample-seconds S]
//
// Prints one CSV line per sample and a summary; exit code 0 when flat.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/config.h"
#include "tests/reliability/peer_clients.h"
#include "tests/support/child_process.h"
#include "tests/support/voxmere_instance.h"

namespace {

// Wine's GetGuiResources is a stub, but Wine keeps each process's GDI handle
// table where Windows keeps the shared one: PEB.GdiSharedHandleTable. A used
// entry has a type; the count includes the stock objects, which stay put.
// 0 when the table cannot be read.
DWORD ProbeGdiObjectCount(HANDLE process) {
  struct GdiHandleEntry {
    UINT64 object;
    ULONG owner;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    UINT64 user;
  };
  constexpr size_t kEntries = 0x10000;
  constexpr size_t kPebGdiTableOffset = 0xF8;  // x64 layout
  PROCESS_BASIC_INFORMATION basic = {};
  ULONG length = 0;
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof(basic), &length) != 0) return 0;
  UINT64 table = 0;
  SIZE_T read = 0;
  if (!ReadProcessMemory(process, static_cast<char*>(static_cast<void*>(basic.PebBaseAddress)) + kPebGdiTableOffset,
                         &table, sizeof(table), &read) ||
      table == 0)
    return 0;
  std::vector<GdiHandleEntry> entries(kEntries);
  if (!ReadProcessMemory(process, reinterpret_cast<const void*>(table), entries.data(),
                         entries.size() * sizeof(GdiHandleEntry), &read))
    return 0;
  DWORD used = 0;
  for (const GdiHandleEntry& entry : entries) used += entry.type != 0 ? 1 : 0;
  return used;
}

// The windows a process owns, message-only ones included: the USER objects
// that a leak of this program would pile up.
DWORD CountProcessWindows(HANDLE process) {
  struct Search {
    DWORD processId;
    DWORD count = 0;
  } search{GetProcessId(process)};
  auto countWithChildren = [](HWND window, LPARAM context) -> BOOL {
    auto* s = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != s->processId) return TRUE;
    ++s->count;
    auto countChild = [](HWND, LPARAM c) -> BOOL {
      ++reinterpret_cast<Search*>(c)->count;
      return TRUE;
    };
    EnumChildWindows(window, countChild, context);
    return TRUE;
  };
  EnumWindows(countWithChildren, reinterpret_cast<LPARAM>(&search));
  for (HWND window = nullptr; (window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr));)
    countWithChildren(window, reinterpret_cast<LPARAM>(&search));
  return search.count;
}

struct ProcessFigures {
  DWORD handles = 0;
  bool handlesProbed = false;  // counted by probing handle values (Wine)
  size_t privateBytes = 0;
};
// The handle probe takes a few hundred milliseconds.
ProcessFigures MeasureProcess(HANDLE process) {
  ProcessFigures figures;
  // Wine answers GetProcessHandleCount with 0: count the values that name a
  // handle instead. Wine hands them out densely from 4 upwards, so the first
  // 4096 values see any leak long before it reaches them.
  if (!GetProcessHandleCount(process, &figures.handles) || figures.handles == 0) {
    const bool own = GetProcessId(process) == GetCurrentProcessId();
    for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
      HANDLE handle = reinterpret_cast<HANDLE>(value), copy = nullptr;
      DWORD flags = 0;
      figures.handles += own ? GetHandleInformation(handle, &flags) != 0
                             : DuplicateHandle(process, handle, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS) != 0;
      if (copy) CloseHandle(copy);
    }
    figures.handlesProbed = true;
  }
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof(memory);
  // Wine leaves PrivateUsage at 0 but fills the commit charge, the same figure on Windows.
  if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory)))
    figures.privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
  return figures;
}

struct SoakFigures : ProcessFigures {
  DWORD gdiObjects = 0;
  DWORD userObjects = 0;
  // Wine's GetGuiResources is a stub: GDI objects are then counted in the
  // process's GDI handle table, and USER objects as the windows it owns.
  bool guiObjectsProbed = false;
};

SoakFigures Measure(HANDLE process) {
  SoakFigures figures;
  static_cast<ProcessFigures&>(figures) = MeasureProcess(process);
  figures.gdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
  figures.userObjects = GetGuiResources(process, GR_USEROBJECTS);
  if (figures.gdiObjects == 0 && figures.userObjects == 0) {
    figures.gdiObjects = ProbeGdiObjectCount(process);
    figures.userObjects = CountProcessWindows(process);
    figures.guiObjectsProbed = true;
  }
  return figures;
}

// Growth between the first and the last fifth of the run that still counts as
// flat: a leak of one handle a minute, or of a few bytes an event, crosses it
// within ten minutes.
constexpr double kFlatHandles = 5;
constexpr double kFlatGuiObjects = 5;
constexpr double kFlatPrivateBytes = 2.0 * 1024 * 1024;
constexpr DWORD kWarmUpMs = 20000;

struct Sample {
  ULONGLONG ms = 0;
  SoakFigures figures;
  size_t speakingEvents = 0;
  int notifications = 0;
};

struct Growth {
  double handles, gdi, user, privateBytes;
};

// Lowest value of the first fifth against the lowest of the last fifth: the
// frame path allocates and frees a screen-sized buffer, so single samples
// swing by megabytes, while a leak raises the floor.
Growth Compare(const std::vector<Sample>& samples) {
  const size_t fifth = std::max<size_t>(1, samples.size() / 5);
  auto floorOf = [&](size_t from, auto field) {
    double lowest = field(samples[from].figures);
    for (size_t i = from; i < from + fifth; ++i) lowest = std::min(lowest, field(samples[i].figures));
    return lowest;
  };
  const size_t last = samples.size() - fifth;
  auto delta = [&](auto field) { return floorOf(last, field) - floorOf(0, field); };
  return {delta([](const SoakFigures& f) { return double(f.handles); }),
          delta([](const SoakFigures& f) { return double(f.gdiObjects); }),
          delta([](const SoakFigures& f) { return double(f.userObjects); }),
          delta([](const SoakFigures& f) { return double(f.privateBytes); })};
}

std::string SimBaseUrl(const ChildProcess& sim) {
  for (const std::string& line : sim.Lines("HTTP http://")) return line.substr(5);
  return {};
}

int Fail(const char* message) {
  std::fprintf(stderr, "voxmere_soak: %s\n", message);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int minutes = 10;
  int sampleSeconds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--minutes") minutes = std::atoi(argv[i + 1]);
    else if (std::string(argv[i]) == "--sample-seconds") sampleSeconds = std::atoi(argv[i + 1]);
  }
  if (minutes <= 0 || sampleSeconds <= 0) return Fail("usage: voxmere_soak [--minutes N] [--sample-seconds S]");

  const std::wstring bin = TestBinDirectory();
  ChildProcess sim;
  if (!sim.Start(L"\"" + bin + L"\\discord_sim.exe\" --pipe 0 --http-port 0 --exit-on-eof --scenario \"" +
                     WidenAscii(VOXMERE_SOAK_SCENARIO) + L"\"",
                 bin, true) ||
      !WaitFor([&] { return !sim.Lines("LISTENING").empty(); }, 20000))
    return Fail("the simulator did not start");
  const std::wstring base = WidenAscii(SimBaseUrl(sim));

  VoxmereInstance voxmere(L"voxmere_soak");
  Config config = TestConfig();
  config.client_secret = L"SoakSecret";
  if (!voxmere.Ready() || !voxmere.WriteConfig(config) ||
      !voxmere.Start({{L"VOXMERE_API_BASE", base}, {L"VOXMERE_CDN_BASE", base}}))
    return Fail("Voxmere.exe did not start");
  if (!voxmere.WaitLogged("[IPC] Authentication successful!", 1, 30000)) return Fail("Voxmere did not authenticate");
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE, FALSE,
                               voxmere.Process().Id());
  if (!process) return Fail("cannot open the Voxmere process");

  // The notifications keep their pace on a thread of their own, whatever a
  // sample costs.
  std::atomic<bool> sending{true};
  std::atomic<int> notifications{0};
  std::thread notifier([&] {
    PipePeer pipe;
    for (int sequence = 0; sending; ++sequence, Sleep(1000)) {
      const std::string text = TaggedNotification("soak", sequence);
      if (pipe.Send(text) || (pipe.Open(L"\\\\.\\pipe\\VoxmereNotifications", 3000) && pipe.Send(text)))
        ++notifications;
    }
  });

  std::printf("seconds,handles,gdi,user,private_kib,speaking_events,notifications\n");
  const ULONGLONG start = GetTickCount64();
  const ULONGLONG end = start + kWarmUpMs + static_cast<ULONGLONG>(minutes) * 60000;
  std::vector<Sample> samples;
  for (ULONGLONG next = start + kWarmUpMs; next < end && voxmere.Process().Running();
       next += static_cast<ULONGLONG>(sampleSeconds) * 1000) {
    const ULONGLONG now = GetTickCount64();
    if (next > now) Sleep(static_cast<DWORD>(next - now));
    Sample s;
    s.ms = GetTickCount64() - start;
    s.figures = Measure(process);
    s.speakingEvents = sim.Lines("SPEAKING_").size();
    s.notifications = notifications;
    samples.push_back(s);
    std::printf("%llu,%lu,%lu,%lu,%zu,%zu,%d\n", s.ms / 1000, s.figures.handles, s.figures.gdiObjects,
                s.figures.userObjects, s.figures.privateBytes / 1024, s.speakingEvents, s.notifications);
    std::fflush(stdout);
  }
  const bool survived = voxmere.Process().Running();
  sending = false;
  notifier.join();
  Sleep(500);  // the last one drained
  const size_t delivered = voxmere.Log("Calling callback for notification").size();
  const int exitCode = voxmere.Exit(10000);
  CloseHandle(process);
  if (samples.size() < 5) return Fail("too few samples");

  const Growth growth = Compare(samples);
  const Sample& first = samples.front();
  const Sample& last = samples.back();
  const double seconds = double(last.ms - first.ms) / 1000;
  const bool flat = growth.handles <= kFlatHandles && growth.gdi <= kFlatGuiObjects && growth.user <= kFlatGuiObjects &&
                    growth.privateBytes <= kFlatPrivateBytes;
  std::printf("\nran %.0f s after a %lu s warm-up; %.1f speaking events/s sent, %d notifications sent, %zu "
              "delivered to the overlay\n",
              seconds, kWarmUpMs / 1000, double(last.speakingEvents - first.speakingEvents) / seconds,
              notifications.load(), delivered);
  std::printf("handles %lu -> %lu (growth %+.1f)%s\n", first.figures.handles, last.figures.handles, growth.handles,
              first.figures.handlesProbed ? " [counted by probing handle values]" : "");
  std::printf("GDI objects %lu -> %lu (growth %+.1f), USER objects %lu -> %lu (growth %+.1f)%s\n",
              first.figures.gdiObjects, last.figures.gdiObjects, growth.gdi, first.figures.userObjects,
              last.figures.userObjects, growth.user,
              first.figures.guiObjectsProbed
                  ? " [GetGuiResources reports 0 here: GDI handle table entries, and windows owned]"
                  : "");
  std::printf("private memory %zu KiB -> %zu KiB (growth %+.0f KiB)\n", first.figures.privateBytes / 1024,
              last.figures.privateBytes / 1024, growth.privateBytes / 1024);
  std::printf("Voxmere %s, exit code %d\n", survived ? "ran throughout" : "ENDED EARLY", exitCode);
  std::printf("verdict: %s\n", flat && survived && exitCode == 0 ? "FLAT" : "NOT FLAT");
  return flat && survived && exitCode == 0 ? 0 : 1;
}
