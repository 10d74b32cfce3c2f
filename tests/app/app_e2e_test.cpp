// Voxmere.exe started as a user starts it: start-up lines, the first-run
// defaults, the tray's Exit command and the single-instance guard. No Discord
// client runs, so the program stays disconnected throughout.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/tray.h"
#include "tests/support/discord_sim_process.h"
#include "tests/support/message_box_probe.h"
#include "tests/support/voxmere_instance.h"

namespace {

TEST(AppE2eTest, FirstRunStartsWithDefaultsAndExitsCleanly) {
  VoxmereInstance voxmere(L"voxmere_first_run");
  ASSERT_TRUE(voxmere.Ready());
  ASSERT_TRUE(voxmere.WriteFile(L"debug.log", "line of an earlier run\r\n"));
  ASSERT_TRUE(voxmere.Start({{L"VOXMERE_API_BASE", L"http//127.0.0.1:9"}}));  // a developer's typo
  ASSERT_TRUE(voxmere.WaitLogged("Checking BetterDiscord installation..."));

  std::vector<std::string> log = voxmere.Log();
  const std::vector<std::string> expected = {
      "=== Voxmere Started ===", "Config loaded: 0", "Monitor: 0", "Allow multi-instance: 0",
  };
  ASSERT_GE(log.size(), expected.size() + 1);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(log[i], expected[i]);
  EXPECT_TRUE(log[4] == "Language: 0" || log[4] == "Language: 1") << log[4];
  for (const char* line : {"GDI+ initialized", "Message window created", "Tray icon created",
                           "Overlay window created", "Notification server started on \\\\.\\pipe\\VoxmereNotifications"})
    EXPECT_EQ(voxmere.Log(line).size(), 1u) << line;
  EXPECT_TRUE(voxmere.Log("line of an earlier run").empty());
  EXPECT_EQ(voxmere.Log("ERROR: Ignoring malformed VOXMERE_API_BASE=\"http//127.0.0.1:9\", using discord.com").size(),
            1u);

  EXPECT_EQ(voxmere.Exit(), 0);
  EXPECT_FALSE(voxmere.FileExists(L"config.json"));
}

TEST(AppE2eTest, SecondStartIsTurnedAwayAndLeavesTheFirstAlone) {
  const std::pair<const char*, std::wstring> languages[] = {
      {"en", L"Voxmere is already running.\nMultiple instances are disabled."},
      {"ja", L"Voxmere\x306F\x65E2\x306B\x5B9F\x884C\x4E2D\x3067\x3059"},
  };
  for (const auto& [language, message] : languages) {
    SCOPED_TRACE(language);
    VoxmereInstance first(L"voxmere_single");
    ASSERT_TRUE(first.Ready());
    Config config = TestConfig();
    config.allow_multi_instance = false;
    config.language = language;
    ASSERT_TRUE(first.WriteConfig(config));
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(first.WaitLogged("Checking BetterDiscord installation..."));
    std::string firstLog = first.ReadFile(L"debug.log");

    // Started from the same folder, as a second double-click would.
    ChildProcess second;
    ASSERT_TRUE(second.Start(L"\"" + first.PathOf(L"Voxmere.exe") + L"\"", first.Directory(), false));
    MessageBoxProbe box = WaitForMessageBox(second.Id(), 15000);
    ASSERT_NE(box.box, nullptr) << "no message box from the second start";
    EXPECT_EQ(box.caption, L"Voxmere");
    EXPECT_EQ(box.text.find(message), 0u);
    ASSERT_TRUE(PressMessageBoxButton(box.box, IDOK));
    EXPECT_EQ(second.WaitExit(10000), 0);

    // The running instance keeps writing; the second start must not have
    // restarted or added to its log.
    EXPECT_EQ(first.ReadFile(L"debug.log").rfind(firstLog, 0), 0u);
    EXPECT_EQ(first.Log("=== Voxmere Started ===").size(), 1u);
    EXPECT_TRUE(first.Process().Running());
    EXPECT_EQ(first.Exit(), 0);
  }
}


// A machine without BetterDiscord: the start-up notice stays open. Hidden for
// the test, since this prefix otherwise plays a machine that has it.
class BetterDiscordHidden {
 public:
  BetterDiscordHidden() {
    wchar_t roaming[MAX_PATH] = {};
    GetEnvironmentVariableW(L"APPDATA", roaming, MAX_PATH);
    folder_ = std::wstring(roaming) + L"\\BetterDiscord";
    hidden_ = MoveFileW(folder_.c_str(), (folder_ + L".hidden").c_str()) != 0;
  }
  ~BetterDiscordHidden() {
    if (hidden_) MoveFileW((folder_ + L".hidden").c_str(), folder_.c_str());
  }

 private:
  std::wstring folder_;
  bool hidden_ = false;
};

bool SendPipeNotification(const std::string& json) {
  HANDLE pipe = CreateFileW(L"\\\\.\\pipe\\VoxmereNotifications", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool sent = ::WriteFile(pipe, json.data(), static_cast<DWORD>(json.size()), &written, nullptr) != 0;
  CloseHandle(pipe);
  return sent && written == json.size();
}

// Bob's speaking ring, read off the screen: 4 pixels left of his tile, below
// its centre (the column at 20,20; Alice's tile first).
bool BobRinged() {
  HDC screen = GetDC(nullptr);
  COLORREF pixel = GetPixel(screen, 16, 106);
  ReleaseDC(nullptr, screen);
  int r = GetRValue(pixel), g = GetGValue(pixel), b = GetBValue(pixel);
  return g > 70 && g > r + 30 && g > b + 10;
}

void SendKeys(std::initializer_list<WORD> keys, DWORD flags) {
  for (WORD key : keys) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
  }
}

bool TakesTheMouse(HWND overlay) { return !(GetWindowLongPtrW(overlay, GWL_EXSTYLE) & WS_EX_TRANSPARENT); }

HWND OpenMenuOf(DWORD processId) {
  HWND found = nullptr;
  WaitFor([&] {
    found = nullptr;
    for (HWND w = FindWindowW(L"#32768", nullptr); w; w = FindWindowExW(nullptr, w, L"#32768", nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == processId && IsWindowVisible(w)) found = w;
    }
    return found != nullptr;
  }, 10000);
  return found;
}

// Nothing the user opens stops the overlay: with the start-up notice open,
// Discord is connected and tracked and a notification is drawn; with the
// tray menu open, a speaking event is drawn.
TEST(AppE2eTest, ModalUiStopsNothing) {
  BetterDiscordHidden noBetterDiscord;
  VoxmereInstance voxmere(L"voxmere_modal");
  ASSERT_TRUE(voxmere.Ready());
  Config config = TestConfig();
  config.overlay_x = 20;
  config.overlay_y = 20;
  ASSERT_TRUE(voxmere.WriteConfig(config));
  ASSERT_TRUE(voxmere.WriteFile(L"scenario.txt", R"(user 100000000000000001 alice global=Alice
channel 300000000000000001 General
member 100000000000000001 alice global=Alice
member 100000000000000002 bob global=Bob
select 300000000000000001
timeline
wait 12000
speak 100000000000000002 on
)"));
  ChildProcess sim;
  std::string base = StartDiscordSim(sim, L"--scenario \"" + voxmere.PathOf(L"scenario.txt") + L"\"");
  ASSERT_FALSE(base.empty());
  ASSERT_TRUE(voxmere.Start({{L"VOXMERE_API_BASE", WidenAscii(base)}, {L"VOXMERE_CDN_BASE", WidenAscii(base)}}));

  MessageBoxProbe notice = WaitForMessageBox(voxmere.Process().Id(), 20000);
  ASSERT_NE(notice.box, nullptr) << "no start-up notice";
  EXPECT_TRUE(voxmere.WaitLogged("[IPC] Found 2 users in voice channel"));
  ASSERT_TRUE(SendPipeNotification(R"({"displayName":"Under a notice","content":"still shown"})"));
  EXPECT_TRUE(voxmere.WaitLogged("[Overlay] Rendering 1 notifications", 1, 5000));
  // Ctrl+Alt reaches it as raw input, wherever the focus is.
  HWND overlay = FindWindowW(L"VoxmereClass", nullptr);
  ASSERT_NE(overlay, nullptr);
  SendKeys({VK_CONTROL, VK_MENU}, 0);
  EXPECT_TRUE(WaitFor([&] { return TakesTheMouse(overlay); }, 5000)) << "Ctrl+Alt did not start drag mode";
  SendKeys({VK_CONTROL, VK_MENU}, KEYEVENTF_KEYUP);  // Alt last: not a lone Alt, no menu mode
  EXPECT_TRUE(WaitFor([&] { return !TakesTheMouse(overlay); }, 5000)) << "letting go did not end drag mode";
  EXPECT_TRUE(IsWindow(notice.box)) << "the notice closed by itself";
  ASSERT_TRUE(PressMessageBoxButton(notice.box, IDOK));
  // Its closing would also close a menu opened meanwhile.
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(notice.box); }, 5000));

  PostMessageW(voxmere.MessageWindow(), WM_TRAYICON, 1, WM_RBUTTONUP);
  HWND menu = OpenMenuOf(voxmere.Process().Id());
  ASSERT_NE(menu, nullptr) << "no tray menu";
  EXPECT_FALSE(BobRinged());
  EXPECT_TRUE(WaitFor(BobRinged, 20000)) << "the speaking ring was not drawn under the menu";
  EXPECT_TRUE(IsWindowVisible(menu));
  EXPECT_EQ(voxmere.Exit(), 0);
}

}  // namespace

// What Explorer and the loader read from the file: the icon, the version
// record, a GUI subsystem, and no manifest (no DPI awareness, classic controls).
TEST(AppExecutableTest, CarriesIconAndVersionRecordButNoManifest) {
  const std::wstring path = TestBinDirectory() + L"\\Voxmere.exe";
  HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr);
  EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(1), RT_GROUP_ICON), nullptr);
  bool anyManifest = false;
  EnumResourceNamesW(image, RT_MANIFEST, [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR found) -> BOOL {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
  }, reinterpret_cast<LONG_PTR>(&anyManifest));
  EXPECT_FALSE(anyManifest);
  FreeLibrary(image);

  DWORD ignored = 0;
  std::vector<char> record(GetFileVersionInfoSizeW(path.c_str(), &ignored));
  ASSERT_FALSE(record.empty());
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(record.size()), record.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010001u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"ProductName", L"Voxmere"}, {L"FileDescription", L"Voxmere"}, {L"OriginalFilename", L"Voxmere.exe"},
      {L"FileVersion", L"1.1.0.0"}, {L"ProductVersion", L"1.1.0.0"}};
  for (const auto& [key, expected] : strings) {
    wchar_t* value = nullptr;
    ASSERT_TRUE(VerQueryValueW(record.data(), (std::wstring(L"\\StringFileInfo\\040904b0\\") + key).c_str(),
                               reinterpret_cast<void**>(&value), &length)) << NarrowAscii(key);
    EXPECT_STREQ(value, expected);
  }

  std::ifstream file(NarrowAscii(path), std::ios::binary);
  std::vector<char> head(4096);
  ASSERT_TRUE(file.read(head.data(), head.size()));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data());
  ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
  ASSERT_LT(dos->e_lfanew + sizeof(IMAGE_NT_HEADERS64), head.size());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(head.data() + dos->e_lfanew);
  EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}
