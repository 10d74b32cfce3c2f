// Voxmere.exe started as a user starts it: start-up lines, the first-run
// defaults (whose placeholder client id Discord rejects), the tray's Exit
// command and the single-instance guard; with the simulator, nothing the
// user opens stops the overlay, and Discord as it really is (consent, calls,
// restarts, a queued handshake) costs the user one dialog.
#include <winsock2.h>
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/autostart.h"
#include "app/json.h"
#include "app/tray.h"
#include "ui/settings_window.h"
#include "tests/support/discord_sim_process.h"
#include "tests/support/message_box_probe.h"
#include "tests/support/voxmere_instance.h"

namespace {

TEST(AppE2eTest, FirstRunStartsWithDefaultsAndExitsCleanly) {
  VoxmereInstance voxmere(L"voxmere_first_run");
  ASSERT_TRUE(voxmere.Ready() && voxmere.WriteFile(L"debug.log", "line of an earlier run\r\n"));
  // A Discord that knows only the user's real application, not the placeholder.
  ASSERT_TRUE(voxmere.WriteFile(L"scenario.txt", "application 1234567890123456789\n"));
  ChildProcess sim;
  ASSERT_FALSE(StartDiscordSim(sim, L"--scenario \"" + voxmere.PathOf(L"scenario.txt") + L"\"").empty());
  ASSERT_TRUE(voxmere.Start({{L"VOXMERE_API_BASE", L"http//127.0.0.1:9"}}));  // a developer's typo
  ASSERT_TRUE(voxmere.WaitLogged("Checking BetterDiscord installation..."));
  std::vector<std::string> log = voxmere.Log();
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 4),
            (std::vector<std::string>{"=== Voxmere Started ===", "Config loaded: 0", "Monitor: 0", "Allow multi-instance: 0"}));
  EXPECT_TRUE(log[4] == "Language: 0" || log[4] == "Language: 1") << log[4];
  for (const char* line : {"GDI+ initialized", "Message window created", "Tray icon created", "Overlay window created",
                           "Notification server started on \\\\.\\pipe\\VoxmereNotifications",
                           "ERROR: Ignoring malformed VOXMERE_API_BASE=\"http//127.0.0.1:9\", using discord.com"})
    EXPECT_EQ(voxmere.Log(line).size(), 1u) << line;
  EXPECT_TRUE(voxmere.Log("line of an earlier run").empty());
  // Discord's reason reaches the log, and the user once, through the tray;
  // the next attempt 5 s later tells the log again, not the user.
  EXPECT_TRUE(voxmere.WaitLogged("[IPC] Received CLOSE frame: 4000 Invalid Client ID", 2, 20000));
  EXPECT_EQ(voxmere.Log("[Tray] Balloon shown: Discord rejected the client id").size(), 1u);
  // With neither the plugin nor an application of one's own, once: the two ways.
  EXPECT_EQ(voxmere.Log("[Tray] Balloon shown: No source for the voice overlay").size(), 1u);
  EXPECT_EQ(voxmere.Exit(), 0);
  EXPECT_FALSE(voxmere.FileExists(L"config.json"));
}

TEST(AppE2eTest, SecondStartIsTurnedAwayAndLeavesTheFirstAlone) {
  for (const auto& [language, message] : {std::pair<const char*, std::wstring>{"en", L"Voxmere is already running.\nMultiple instances are disabled."},
                                          {"ja", L"Voxmere\x306F\x65E2\x306B\x5B9F\x884C\x4E2D\x3067\x3059"}}) {
    SCOPED_TRACE(language);
    VoxmereInstance first(L"voxmere_single");
    Config config = TestConfig();
    config.allow_multi_instance = false;
    config.language = language;
    ASSERT_TRUE(first.Ready() && first.WriteConfig(config) && first.Start());
    ASSERT_TRUE(first.WaitLogged("Checking BetterDiscord installation..."));
    std::string firstLog = first.ReadFile(L"debug.log");
    ChildProcess second;  // started from the same folder, as a second double-click would
    ASSERT_TRUE(second.Start(L"\"" + first.PathOf(L"Voxmere.exe") + L"\"", first.Directory(), false));
    MessageBoxProbe box = WaitForMessageBox(second.Id(), 15000);
    EXPECT_TRUE(box.caption == L"Voxmere" && box.text.find(message) == 0) << "no box, or a wrong one, from the second start";
    EXPECT_TRUE(PressMessageBoxButton(box.box, IDOK) && second.WaitExit(10000) == 0);
    // The running instance keeps writing; the second start must not have restarted or added to its log.
    EXPECT_EQ(first.ReadFile(L"debug.log").rfind(firstLog, 0), 0u);
    EXPECT_EQ(first.Log("=== Voxmere Started ===").size(), 1u);
    EXPECT_TRUE(first.Process().Running());
    EXPECT_EQ(first.Exit(), 0);
  }
}

// An application Discord has not approved for rpc.voice.read: invalid_scope
// named in the log, and once in the tray's balloon and tooltip, in the
// interface language, pointing to the plugin.
TEST(AppE2eTest, InvalidScopeIsNamedInLogAndBalloon) {
  for (const auto& [language, title] : {std::pair<const char*, const char*>{"en", "Discord answered invalid_scope"},
                                        {"ja", "Discord \xE3\x81\x8C invalid_scope \xE3\x82\x92\xE8\xBF\x94\xE3\x81\x97"
                                               "\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F"}}) {
    SCOPED_TRACE(language);
    VoxmereInstance voxmere(L"voxmere_invalid_scope");
    Config config = TestConfig();
    config.language = language;
    config.client_id = L"1234567890123456789";  // the user's own, registered after April 2026
    ASSERT_TRUE(voxmere.Ready() && voxmere.WriteConfig(config));
    ASSERT_TRUE(voxmere.WriteFile(L"scenario.txt", "application 1234567890123456789\nscopes unapproved\n"));
    ChildProcess sim;
    ASSERT_FALSE(StartDiscordSim(sim, L"--scenario \"" + voxmere.PathOf(L"scenario.txt") + L"\"").empty());
    ASSERT_TRUE(voxmere.Start());
    ASSERT_TRUE(voxmere.WaitLogged("[IPC] AUTHORIZE error: OAuth2 Error: invalid_scope: ", 1, 30000));
    EXPECT_TRUE(voxmere.WaitLogged("[IPC] ERROR: invalid_scope: Discord has not approved this application for "
                                   "rpc.voice.read; the Tallybell plugin is the way"));
    EXPECT_TRUE(voxmere.WaitLogged(std::string("[Tray] Balloon shown: ") + title, 1, 5000));
    EXPECT_EQ(voxmere.Log("[Tray] Balloon shown: ").size(), 1u);
    EXPECT_EQ(voxmere.Exit(), 0);
  }
}

// A loopback listener on a free port, bound as exclusively as Voxmere binds.
struct HeldPort {
  SOCKET s = INVALID_SOCKET;
  uint16_t port = 0;
  HeldPort() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL exclusive = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof(exclusive));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(s, 1) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port = ntohs(address.sin_port);
  }
  ~HeldPort() {
    closesocket(s);
    WSACleanup();
  }
};

bool ConnectsTo(uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool connected = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  closesocket(s);
  return connected;
}

// Another program holds the plugin's port: Voxmere listens on a free one,
// says so, and names it in the endpoint file (replacing one a crash cut
// short) while it runs. A second Voxmere leaves that file to the first and
// takes it over once the first has exited and removed it.
TEST(AppE2eTest, EndpointFileNamesTheFallbackPortWhileItsOwnerRuns) {
  HeldPort held;
  ASSERT_NE(held.port, 0);
  VoxmereInstance first(L"voxmere_endpoint"), second(L"voxmere_endpoint_second");
  ASSERT_TRUE(first.Ready() && second.Ready() && first.WriteConfig(TestConfig()) && second.WriteConfig(TestConfig()));
  ASSERT_TRUE(first.WriteFile(L"endpoint.json", "{\"port\":4"));
  const std::vector<std::pair<std::wstring, std::wstring>> environment = {
      {L"VOXMERE_WEBSOCKET_PORT", std::to_wstring(held.port)}, {L"VOXMERE_ENDPOINT_FILE", first.PathOf(L"endpoint.json")}};
  ASSERT_TRUE(first.Start(environment));
  const std::string moved = "WebSocket port " + std::to_string(held.port) + " is held by another program; listening on port ";
  ASSERT_TRUE(first.WaitLogged(moved));
  const int port = std::atoi(first.Log(moved)[0].substr(first.Log(moved)[0].find(moved) + moved.size()).c_str());
  EXPECT_TRUE(port > 0 && port != held.port) << port;
  EXPECT_EQ(first.Log("WebSocket server listening on port " + std::to_string(port)).size(), 1u);
  ASSERT_TRUE(first.WaitLogged("[Endpoint] Wrote "));
  EXPECT_EQ(first.Log("endpoint.json is not valid JSON").size(), 1u);
  const std::optional<Json> named = ParseJson(first.ReadFile(L"endpoint.json"));
  ASSERT_TRUE(named) << first.ReadFile(L"endpoint.json");
  EXPECT_EQ(*named, (Json{{"port", port}, {"pid", first.Process().Id()}, {"version", "1.1.0"}}));
  EXPECT_TRUE(ConnectsTo(static_cast<uint16_t>(port)));
  EXPECT_TRUE(first.WaitLogged("WebSocket client connecting..."));

  ASSERT_TRUE(second.Start(environment));
  ASSERT_TRUE(second.WaitLogged("which still runs: left to it"));
  ASSERT_TRUE(second.WaitLogged("WebSocket server listening on port "));
  EXPECT_EQ(ParseJson(first.ReadFile(L"endpoint.json")), named);
  EXPECT_EQ(first.Exit(), 0);
  EXPECT_EQ(first.Log("[Endpoint] Removed ").size(), 1u);
  // The second takes the file over within its next look (5 s), then removes it.
  ASSERT_TRUE(second.WaitLogged("[Endpoint] Wrote ", 1, 10000));
  const std::string listening = second.Log("WebSocket server listening on port ")[0];
  const std::optional<Json> taken = ParseJson(first.ReadFile(L"endpoint.json"));
  ASSERT_TRUE(taken) << first.ReadFile(L"endpoint.json");
  EXPECT_EQ(JsonInt(*taken, "pid", 0), second.Process().Id());
  EXPECT_EQ("WebSocket server listening on port " + std::to_string(JsonInt(*taken, "port", 0)),
            listening.substr(listening.find("WebSocket server")));
  EXPECT_EQ(second.Log("which still runs: left to it").size(), 1u);  // told once, not every look
  EXPECT_EQ(second.Exit(), 0);
  EXPECT_FALSE(first.FileExists(L"endpoint.json"));
}

// A machine without BetterDiscord: the start-up notice stays open. Hidden for
// the test, since this prefix otherwise plays a machine that has it.
struct BetterDiscordHidden {
  std::wstring folder = std::wstring(_wgetenv(L"APPDATA")) + L"\\BetterDiscord";
  bool hidden = MoveFileW(folder.c_str(), (folder + L".hidden").c_str()) != 0;
  ~BetterDiscordHidden() { if (hidden) MoveFileW((folder + L".hidden").c_str(), folder.c_str()); }
};

bool SendPipeNotification(const std::string& json) {
  HANDLE pipe = CreateFileW(L"\\\\.\\pipe\\VoxmereNotifications", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD written = 0;
  bool sent = pipe != INVALID_HANDLE_VALUE && ::WriteFile(pipe, json.data(), DWORD(json.size()), &written, nullptr);
  if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
  return sent && written == json.size();
}

// Bob's speaking ring, read off the screen: 4 pixels left of his tile, below
// its centre (the column at 20,20; Alice's tile first).
bool BobRinged() {
  HDC screen = GetDC(nullptr);
  COLORREF pixel = GetPixel(screen, 16, 106);
  ReleaseDC(nullptr, screen);
  return GetGValue(pixel) > 70 && GetGValue(pixel) > GetRValue(pixel) + 30 && GetGValue(pixel) > GetBValue(pixel) + 10;
}

void SendKeys(std::initializer_list<WORD> keys, DWORD flags) {
  for (WORD key : keys) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki = {key, 0, flags, 0, 0};
    SendInput(1, &input, sizeof(input));
  }
}

bool AnOverlayWindowTakesTheMouse() {
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"VoxmereClass", nullptr));)
    if (!(GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TRANSPARENT)) return true;
  return false;
}

bool MenuOpen(DWORD processId) {
  DWORD owner = 0;
  for (HWND w = FindWindowW(L"#32768", nullptr); w; w = FindWindowExW(nullptr, w, L"#32768", nullptr))
    if (GetWindowThreadProcessId(w, &owner) && owner == processId && IsWindowVisible(w)) return true;
  return false;
}

// With the start-up notice open, Discord is connected and tracked, a
// notification is drawn and Ctrl+Alt arrives; with the tray menu open, a
// speaking event is drawn.
TEST(AppE2eTest, ModalUiStopsNothing) {
  BetterDiscordHidden noBetterDiscord;
  VoxmereInstance voxmere(L"voxmere_modal");
  Config config = TestConfig();
  config.overlay_x = config.overlay_y = 20;
  ASSERT_TRUE(voxmere.Ready() && voxmere.WriteConfig(config));
  ASSERT_TRUE(voxmere.WriteFile(L"scenario.txt", "user 100000000000000001 alice global=Alice\nchannel 300000000000000001 General\n"
      "member 100000000000000001 alice global=Alice\nmember 100000000000000002 bob global=Bob\n"
      "select 300000000000000001\ntimeline\nwait 12000\nspeak 100000000000000002 on\n"));
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
  ASSERT_NE(FindWindowW(L"VoxmereClass", nullptr), nullptr);
  SendKeys({VK_CONTROL, VK_MENU}, 0);
  EXPECT_TRUE(WaitFor([&] { return AnOverlayWindowTakesTheMouse(); }, 5000)) << "Ctrl+Alt did not start drag mode";
  SendKeys({VK_CONTROL, VK_MENU}, KEYEVENTF_KEYUP);  // Alt last: not a lone Alt, no menu mode
  EXPECT_TRUE(WaitFor([&] { return !AnOverlayWindowTakesTheMouse(); }, 5000)) << "letting go did not end drag mode";
  EXPECT_TRUE(IsWindow(notice.box)) << "the notice closed by itself";
  // Its closing would also close a menu opened meanwhile.
  ASSERT_TRUE(PressMessageBoxButton(notice.box, IDOK) && WaitFor([&] { return !IsWindow(notice.box); }, 5000));

  PostMessageW(voxmere.MessageWindow(), WM_TRAYICON, 1, WM_RBUTTONUP);
  ASSERT_TRUE(WaitFor([&] { return MenuOpen(voxmere.Process().Id()); }, 10000)) << "no tray menu";
  EXPECT_FALSE(BobRinged());
  EXPECT_TRUE(WaitFor(BobRinged, 20000)) << "the speaking ring was not drawn under the menu";
  EXPECT_TRUE(MenuOpen(voxmere.Process().Id()));
  EXPECT_EQ(voxmere.Exit(), 0);
}

// debug.log is what users send us: the warning about a damaged config.json
// read before the log began is in it, names are UTF-8, and the text of a
// message never is, only its length.
TEST(AppE2eTest, DebugLogKeepsTheConfigWarningAndNoMessageText) {
  VoxmereInstance voxmere(L"voxmere_log");
  const std::string damaged = FormatConfigText(TestConfig());
  ASSERT_TRUE(voxmere.Ready() && voxmere.WriteFile(L"config.json", damaged.substr(0, damaged.rfind('}'))));
  ASSERT_TRUE(voxmere.Start());
  ASSERT_TRUE(voxmere.WaitLogged("Checking BetterDiscord installation..."));
  const std::vector<std::string> log = voxmere.Log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "=== Voxmere Started ===");
  EXPECT_EQ(log[1].substr(0, 40), "[Config] config.json is not valid JSON (");
  EXPECT_EQ(log[2], "Config loaded: 1");
  ASSERT_TRUE(SendPipeNotification("{\"displayName\":\"Jos\xC3\xA9 M\xC3\xBCller\",\"content\":\"meet at the secret place\"}"));
  EXPECT_TRUE(voxmere.WaitLogged(
      "[Overlay] Added notification - displayName: Jos\xC3\xA9 M\xC3\xBCller, content: 24 characters, total count: 1"));
  const std::string text = voxmere.ReadFile(L"debug.log");
  EXPECT_GT(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0), 0)
      << "debug.log is not UTF-8";
  EXPECT_EQ(text.find("secret"), std::string::npos) << "message text in debug.log";
  EXPECT_EQ(voxmere.Exit(), 0);
}

// "Start with Windows" on, and the folder moved since the Run value was
// written: the start corrects the value to the executable as it runs now.
TEST(AppE2eTest, StartWithWindowsFollowsAMovedFolder) {
  VoxmereInstance voxmere(L"voxmere_moved");
  Config config = TestConfig();
  config.start_with_windows = true;
  ASSERT_TRUE(voxmere.Ready() && voxmere.WriteConfig(config));
  const std::wstring moved = L"\"C:\\Old Folder\\Voxmere.exe\"";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, REG_SZ, moved.c_str(),
                            DWORD((moved.size() + 1) * sizeof(wchar_t))), ERROR_SUCCESS);
  ASSERT_TRUE(voxmere.Start());
  ASSERT_TRUE(voxmere.WaitLogged("Checking BetterDiscord installation..."));
  wchar_t value[MAX_PATH + 2] = {};
  DWORD bytes = sizeof(value);
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr, value, &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(value), L"\"" + voxmere.PathOf(L"Voxmere.exe") + L"\"");
  EXPECT_EQ(voxmere.Log("Start with Windows: \"").size(), 1u);
  EXPECT_EQ(voxmere.Exit(), 0);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName);
}

struct DpiPlace { HKEY root; const wchar_t* key; };
// Where Wine reads the display scale it hands to every program it starts.
const DpiPlace kDpiPlaces[] = {{HKEY_CURRENT_USER, L"Control Panel\\Desktop"}, {HKEY_CURRENT_CONFIG, L"Software\\Fonts"}};

// The prefix's display scale, put back as it was at the end.
class PrefixDpi {
 public:
  explicit PrefixDpi(DWORD dpi) {
    for (const DpiPlace& place : kDpiPlaces) {
      DWORD value = 0, size = sizeof(value);
      saved_.push_back(RegGetValueW(place.root, place.key, L"LogPixels", RRF_RT_REG_DWORD, nullptr, &value, &size) ==
                               ERROR_SUCCESS ? value : 0);
      RegSetKeyValueW(place.root, place.key, L"LogPixels", REG_DWORD, &dpi, sizeof(dpi));
    }
  }
  ~PrefixDpi() {
    for (size_t i = 0; i < std::size(kDpiPlaces); ++i) {
      const DpiPlace& place = kDpiPlaces[i];
      if (saved_[i]) RegSetKeyValueW(place.root, place.key, L"LogPixels", REG_DWORD, &saved_[i], sizeof(DWORD));
      else RegDeleteKeyValueW(place.root, place.key, L"LogPixels");
    }
  }

 private:
  std::vector<DWORD> saved_;
};

// The visible overlay windows of the process.
std::vector<HWND> ShownOverlayWindows(DWORD processId) {
  std::vector<HWND> shown;
  DWORD owner = 0;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"VoxmereClass", nullptr));)
    if (GetWindowThreadProcessId(w, &owner) && owner == processId && IsWindowVisible(w)) shown.push_back(w);
  return shown;
}

// Rows from the first to the last holding a white pixel, right of x, in the
// rectangle of the screen: the height of a name's glyphs.
int WhiteRows(const RECT& rect, int fromX) {
  HDC screen = GetDC(nullptr);
  int first = -1, last = -1;
  for (int y = rect.top; y < rect.bottom; ++y)
    for (int x = fromX; x < rect.right; ++x) {
      const COLORREF pixel = GetPixel(screen, x, y);
      if (GetRValue(pixel) > 200 && GetGValue(pixel) > 200 && GetBValue(pixel) > 200) {
        if (first < 0) first = y;
        last = y;
        break;
      }
    }
  ReleaseDC(nullptr, screen);
  return first < 0 ? 0 : last - first + 1;
}

struct DrawnSizes {
  SIZE tileWindow = {};
  int nameRows = 0;
  SIZE settingsClient = {};
  RECT saveButton = {};  // in the client area
};

// Voxmere started with the prefix at that DPI: a speaking member's tile
// window and the height of its name, read off the screen, and the settings
// window opened from the tray.
DrawnSizes MeasureAt(DWORD dpi) {
  DrawnSizes sizes;
  PrefixDpi prefix(dpi);
  BetterDiscordHidden noBetterDiscord;  // Discord's RPC gives the member, not the plugin
  VoxmereInstance voxmere(L"voxmere_dpi");
  Config config = TestConfig();
  config.overlay_x = config.overlay_y = 400;  // clear of the balloons at the screen's corner
  EXPECT_TRUE(voxmere.Ready() && voxmere.WriteConfig(config));
  EXPECT_TRUE(voxmere.WriteFile(L"scenario.txt", "user 100000000000000001 alice global=Alice\n"
      "channel 300000000000000001 General\nmember 100000000000000001 alice global=Alice\n"
      "select 300000000000000001\ntimeline\nwait 500\nspeak 100000000000000001 on\n"));
  ChildProcess sim;
  const std::string base = StartDiscordSim(sim, L"--scenario \"" + voxmere.PathOf(L"scenario.txt") + L"\"");
  EXPECT_FALSE(base.empty());
  if (!voxmere.Start({{L"VOXMERE_API_BASE", WidenAscii(base)}, {L"VOXMERE_CDN_BASE", WidenAscii(base)}})) return sizes;
  // The start-up notice would stand over the overlay on this screen.
  MessageBoxProbe notice = WaitForMessageBox(voxmere.Process().Id(), 20000);
  EXPECT_TRUE(notice.box && PressMessageBoxButton(notice.box, IDOK) && WaitFor([&] { return !IsWindow(notice.box); }, 5000));
  EXPECT_TRUE(voxmere.WaitLogged("[Overlay] Monitor 1: "));
  EXPECT_EQ(voxmere.Log(", " + std::to_string(dpi) + " DPI").size(), 1u) << "the overlay took another scale";
  EXPECT_TRUE(voxmere.WaitLogged("[IPC] Found 1 users in voice channel"));
  RECT tile = {};
  // Right of the tile (as wide as the window is high, ring and halo
  // included): the name, once it has stopped growing with the tile's entry.
  DWORD sameSince = GetTickCount();
  EXPECT_TRUE(WaitFor([&] {
    const std::vector<HWND> shown = ShownOverlayWindows(voxmere.Process().Id());
    if (shown.size() != 1 || !GetWindowRect(shown[0], &tile)) return false;
    const int rows = WhiteRows(tile, tile.left + (tile.bottom - tile.top));
    if (rows != sizes.nameRows) sameSince = GetTickCount();
    sizes.nameRows = rows;
    return rows > 0 && GetTickCount() - sameSince > 800;
  }, 20000)) << "no speaking member drawn";
  sizes.tileWindow = {tile.right - tile.left, tile.bottom - tile.top};

  PostMessageW(voxmere.MessageWindow(), WM_COMMAND, MENU_SETTINGS, 0);
  HWND settings = nullptr;
  EXPECT_TRUE(WaitFor([&] { return (settings = FindWindowW(L"VoxmereSettings", nullptr)) && IsWindowVisible(settings); },
                      10000));
  RECT client = {}, save = {};
  if (settings && GetClientRect(settings, &client) && GetWindowRect(GetDlgItem(settings, kIdSave), &save)) {
    MapWindowPoints(HWND_DESKTOP, settings, reinterpret_cast<POINT*>(&save), 2);
    sizes.settingsClient = {client.right, client.bottom};
    sizes.saveButton = save;
  }
  const RECT& s = sizes.saveButton;
  std::printf("%lu DPI: tile window %ldx%ld, name %d rows high, settings client %ldx%ld, Save %ld,%ld to %ld,%ld\n",
              dpi, sizes.tileWindow.cx, sizes.tileWindow.cy, sizes.nameRows, sizes.settingsClient.cx,
              sizes.settingsClient.cy, s.left, s.top, s.right, s.bottom);
  EXPECT_EQ(voxmere.Exit(), 0);
  return sizes;
}

// At 150 % (144 DPI) against 100 % in the same test: the member's tile
// window, its name and the settings window's layout are 1.5 times as large,
// to the pixel or two that rounding and glyph outlines give. (The settings
// window's height is left out: a 1080-pixel screen cuts it at 150 %.)
TEST(AppE2eTest, EverythingDrawnGrowsWithTheDisplayScale) {
  const DrawnSizes small = MeasureAt(96), large = MeasureAt(144);
  ASSERT_GT(small.nameRows, 0);
  EXPECT_NEAR(large.tileWindow.cx, 1.5 * small.tileWindow.cx, 4);
  EXPECT_NEAR(large.tileWindow.cy, 1.5 * small.tileWindow.cy, 3);
  EXPECT_NEAR(large.nameRows, 1.5 * small.nameRows, 2);
  EXPECT_NEAR(large.settingsClient.cx, 1.5 * small.settingsClient.cx, 3);
  const RECT& a = small.saveButton;
  const RECT& b = large.saveButton;
  for (const auto& [name, at96, at144] : {std::tuple<const char*, LONG, LONG>{"left", a.left, b.left}, {"top", a.top, b.top},
                                          {"right", a.right, b.right}, {"bottom", a.bottom, b.bottom}})
    EXPECT_NEAR(at144, 1.5 * at96, 2) << "Save button " << name;
}

// Discord as it really is, through a first start, a Discord restart and two
// restarts of Voxmere: one consent dialog in all; a DM call asked for its
// members once per connection, not once a second; no token or secret in
// debug.log; and the last start's handshake, over Discord's limit, waits up
// to 30 s for READY while every window of Voxmere keeps answering.
TEST(AppE2eTest, OneConsentNoSnapshotStormAndPatienceWithAQueuedHandshake) {
  VoxmereInstance voxmere(L"voxmere_discord_as_it_is");
  Config config = TestConfig();
  config.client_secret = L"TestSecretNotForTheLog42";
  ASSERT_TRUE(voxmere.Ready() && voxmere.WriteConfig(config));
  ASSERT_TRUE(voxmere.WriteFile(L"scenario.txt", "user 100000000000000001 alice global=Alice\n"
      "channel 300000000000000003 Call type=1\nmember 100000000000000001 alice global=Alice\n"
      "member 100000000000000007 fay global=Fay\nselect 300000000000000003\n"
      "timeline\nwait 20000\nrestart\n"));
  ChildProcess sim;
  const std::wstring base = WidenAscii(StartDiscordSim(sim, L"--scenario \"" + voxmere.PathOf(L"scenario.txt") + L"\""));
  ASSERT_FALSE(base.empty());
  const std::vector<std::pair<std::wstring, std::wstring>> environment = {{L"VOXMERE_API_BASE", base},
                                                                          {L"VOXMERE_CDN_BASE", base}};
  const char* const kAuthenticated = "[IPC] Authentication successful!";
  ASSERT_TRUE(voxmere.Start(environment));
  ASSERT_TRUE(voxmere.WaitLogged(kAuthenticated, 1, 30000));
  // 20 s of the call, then Discord restarts; Voxmere comes back with its token.
  ASSERT_TRUE(WaitFor([&] { return !sim.Lines("RESTARTING").empty(); }, 30000));
  const size_t fetches = sim.Lines("API FETCH /channels/300000000000000003/messages").size();
  EXPECT_LE(fetches, 2u);
  EXPECT_TRUE(voxmere.WaitLogged(kAuthenticated, 2, 30000));
  for (int restart = 0; restart < 2; ++restart) {
    EXPECT_EQ(voxmere.Exit(), 0);
    for (const std::string& line : voxmere.Log())
      EXPECT_TRUE(line.find("SimAccessToken") == std::string::npos && line.find("TestSecretNotForTheLog42") == std::string::npos)
          << line;
    ASSERT_TRUE(voxmere.Start(environment));
    ASSERT_TRUE(WaitFor([&] { return voxmere.MessageWindow() != nullptr; }, 20000));
  }
  // The fourth handshake since Discord's restart: queued.
  ASSERT_TRUE(WaitFor([&] { return !sim.Lines("HANDSHAKE QUEUED").empty(); }, 20000));
  const ULONGLONG queued = GetTickCount64();
  DWORD slowest = 0;
  size_t asked = 0;
  while (sim.Lines("HANDSHAKE RELEASED").empty() && GetTickCount64() - queued < 40000) {
    std::vector<HWND> windows = {voxmere.MessageWindow()};
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"VoxmereClass", nullptr));) {
      DWORD owner = 0;
      if (GetWindowThreadProcessId(w, &owner) && owner == voxmere.Process().Id()) windows.push_back(w);
    }
    for (HWND window : windows) {
      DWORD_PTR ignored = 0;
      const ULONGLONG before = GetTickCount64();
      EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored), 0);
      slowest = std::max<DWORD>(slowest, static_cast<DWORD>(GetTickCount64() - before));
      ++asked;
    }
    Sleep(200);
  }
  const ULONGLONG waited = GetTickCount64() - queued;
  EXPECT_FALSE(sim.Lines("HANDSHAKE RELEASED").empty());
  EXPECT_TRUE(voxmere.WaitLogged(kAuthenticated, 1, 20000));
  EXPECT_EQ(voxmere.Log("[IPC] Connecting to Discord...").size(), 1u) << "a second connection while READY waited";
  EXPECT_LT(slowest, 1000u);
  EXPECT_EQ(sim.Lines("CONSENT DIALOG").size(), 1u);
  std::printf("Discord as it is: %zu consent dialog(s), %zu call snapshot fetch(es) in 20 s, READY queued %llu ms, "
              "slowest of %zu window answers meanwhile %lu ms\n",
              sim.Lines("CONSENT DIALOG").size(), fetches, waited, asked, slowest);
  EXPECT_EQ(voxmere.Exit(), 0);
}

HWND WindowOfProcess(const wchar_t* className, DWORD processId) {
  DWORD owner = 0;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, className, nullptr));)
    if (GetWindowThreadProcessId(w, &owner) && owner == processId && IsWindowVisible(w)) return w;
  return nullptr;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

// The settings window opened from the tray menu, with its first control focused.
HWND OpenSettings(VoxmereInstance& voxmere) {
  PostMessageW(voxmere.MessageWindow(), WM_COMMAND, MENU_SETTINGS, 0);
  HWND window = nullptr;
  WaitFor([&] { return (window = WindowOfProcess(L"VoxmereSettings", voxmere.Process().Id())) && FocusOf(window); }, 10000);
  // Clear of the member column, whose pixels the test reads.
  if (window) SetWindowPos(window, nullptr, 400, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  return window;
}

void Press(WORD key) {
  SendKeys({key}, 0);
  SendKeys({key}, KEYEVENTF_KEYUP);
}

// Bob's speaking ring is red rather than the default green.
bool BobRingedRed() {
  HDC screen = GetDC(nullptr);
  COLORREF pixel = GetPixel(screen, 16, 106);
  ReleaseDC(nullptr, screen);
  return GetRValue(pixel) > 120 && GetGValue(pixel) < 60;
}

size_t VisibleOverlayWindows(DWORD processId) {
  size_t visible = 0;
  DWORD owner = 0;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"VoxmereClass", nullptr));)
    visible += GetWindowThreadProcessId(w, &owner) && owner == processId && IsWindowVisible(w);
  return visible;
}

void PressChord(std::initializer_list<WORD> keys) {
  SendKeys(keys, 0);
  SendKeys(keys, KEYEVENTF_KEYUP);
}

// The settings window as a keyboard user meets it, keys sent through
// Voxmere.exe's own message loop: Tab moves the focus, Esc cancels and
// writes nothing, a cancelled slider stays out of a later save, Enter saves a
// hand-set title with quotes and backslashes as valid JSON, and a colour
// chosen is on the overlay before any save. Then the show/hide hotkey as a
// keystroke: it hides and shows every overlay window, one saved in the
// window works at once in place of the old, one another program holds is
// named there.
TEST(AppE2eTest, SettingsWindowWorksFromTheKeyboard) {
  VoxmereInstance voxmere(L"voxmere_settings");
  Config config = TestConfig();
  config.pip_window_title = L"My \"Game\" \\ view";
  ASSERT_TRUE(voxmere.Ready() && voxmere.WriteConfig(config));
  ASSERT_TRUE(voxmere.WriteFile(L"scenario.txt", "user 100000000000000001 alice global=Alice\nchannel 300000000000000001 General\n"
      "member 100000000000000001 alice global=Alice\nmember 100000000000000002 bob global=Bob\n"
      "select 300000000000000001\ntimeline\nwait 2000\nspeak 100000000000000002 on\n"));
  const std::string written = voxmere.ReadFile(L"config.json");
  ChildProcess sim;
  std::string base = StartDiscordSim(sim, L"--scenario \"" + voxmere.PathOf(L"scenario.txt") + L"\"");
  ASSERT_FALSE(base.empty());
  ASSERT_TRUE(voxmere.Start({{L"VOXMERE_API_BASE", WidenAscii(base)}, {L"VOXMERE_CDN_BASE", WidenAscii(base)}}));
  ASSERT_TRUE(voxmere.WaitLogged("Checking BetterDiscord installation..."));
  ASSERT_TRUE(WaitFor(BobRinged, 20000)) << "no speaking ring to watch";

  HWND settings = OpenSettings(voxmere);
  ASSERT_NE(settings, nullptr) << "no settings window, or no focus in it";
  const HWND first = FocusOf(settings);
  EXPECT_EQ(GetDlgCtrlID(first), kIdInactiveOpacity);
  Press(VK_TAB);
  ASSERT_TRUE(WaitFor([&] { return FocusOf(settings) != first; }, 5000)) << "Tab moved nothing";
  const HWND second = FocusOf(settings);
  Press(VK_TAB);
  ASSERT_TRUE(WaitFor([&] { return FocusOf(settings) != second; }, 5000));
  EXPECT_NE(FocusOf(settings), first);
  EXPECT_EQ(GetDlgCtrlID(FocusOf(settings)), kIdSpeakingColor);
  Press(VK_SPACE);  // the colour chooser; the test sets red in it
  HWND chooser = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (chooser = WindowOfProcess(L"#32770", voxmere.Process().Id())) != nullptr; }, 10000));
  // Its red, green and blue boxes (COLOR_RED, COLOR_GREEN, COLOR_BLUE), as typed.
  for (const auto& [id, value] : {std::pair<int, const wchar_t*>{706, L"255"}, {707, L"0"}, {708, L"0"}})
    SendMessageW(GetDlgItem(chooser, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value));
  ASSERT_TRUE(PressMessageBoxButton(chooser, IDOK));
  EXPECT_TRUE(WaitFor(BobRingedRed, 5000)) << "the chosen colour was not previewed";


  Press(VK_ESCAPE);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(settings); }, 10000)) << "Esc did not close the window";
  EXPECT_TRUE(WaitFor(BobRinged, 5000)) << "Esc did not put the colour back";
  EXPECT_EQ(voxmere.ReadFile(L"config.json"), written);

  settings = OpenSettings(voxmere);
  ASSERT_NE(settings, nullptr);
  Press(VK_RIGHT);  // inactive opacity 40% -> 41%, then cancelled
  Press(VK_ESCAPE);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(settings); }, 10000));
  settings = OpenSettings(voxmere);
  ASSERT_NE(settings, nullptr);
  Press(VK_RETURN);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(settings); }, 10000)) << "Enter did not save";
  ASSERT_TRUE(WaitFor([&] { return voxmere.ReadFile(L"config.json") != written; }, 5000));
  Config saved;
  EXPECT_EQ(ApplyConfigText(saved, voxmere.ReadFile(L"config.json")), "") << "the saved file is no JSON";
  EXPECT_EQ(saved.pip_window_title, config.pip_window_title);
  EXPECT_FLOAT_EQ(saved.inactive_opacity, config.inactive_opacity);
  EXPECT_EQ(saved.speaking_color, config.speaking_color);

  // The show/hide hotkey, pressed as a user presses it, with a card shown.
  const DWORD id = voxmere.Process().Id();
  ASSERT_TRUE(SendPipeNotification(R"({"displayName":"Hotkey","content":"hide me"})"));
  ASSERT_TRUE(WaitFor([&] { return VisibleOverlayWindows(id) >= 3; }, 10000)) << "no card beside the two tiles";
  PressChord({VK_CONTROL, VK_SHIFT, 'O'});
  EXPECT_TRUE(WaitFor([&] { return VisibleOverlayWindows(id) == 0; }, 5000)) << "Ctrl+Shift+O hid nothing";
  PressChord({VK_CONTROL, VK_SHIFT, 'O'});
  EXPECT_TRUE(WaitFor([&] { return VisibleOverlayWindows(id) >= 3; }, 5000)) << "Ctrl+Shift+O did not show it again";
  // Another hotkey saved in the settings works at once; the old one no longer does.
  settings = OpenSettings(voxmere);
  ASSERT_NE(settings, nullptr);
  SendDlgItemMessageW(settings, kIdToggleHotkey, HKM_SETHOTKEY, MAKEWORD('P', HOTKEYF_CONTROL | HOTKEYF_SHIFT), 0);
  Press(VK_RETURN);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(settings); }, 10000));
  EXPECT_EQ(voxmere.Log("Show/hide hotkey: Ctrl+Shift+P").size(), 1u);
  PressChord({VK_CONTROL, VK_SHIFT, 'O'});
  // Ctrl+Alt pressed after it reaches Voxmere behind it: once drag mode
  // shows, the old chord has been read (a hotkey's message comes first).
  SendKeys({VK_CONTROL, VK_MENU}, 0);
  ASSERT_TRUE(WaitFor(AnOverlayWindowTakesTheMouse, 5000)) << "the keys after the old hotkey were not read";
  SendKeys({VK_CONTROL, VK_MENU}, KEYEVENTF_KEYUP);
  ASSERT_TRUE(WaitFor([] { return !AnOverlayWindowTakesTheMouse(); }, 5000));
  EXPECT_GE(VisibleOverlayWindows(id), 3u) << "the old hotkey still works";
  PressChord({VK_CONTROL, VK_SHIFT, 'P'});
  EXPECT_TRUE(WaitFor([&] { return VisibleOverlayWindows(id) == 0; }, 5000)) << "the new hotkey does nothing";
  PressChord({VK_CONTROL, VK_SHIFT, 'P'});
  ASSERT_TRUE(WaitFor([&] { return VisibleOverlayWindows(id) >= 3; }, 5000));
  // One that another program holds is named in the window, which stays open.
  ASSERT_TRUE(RegisterHotKey(nullptr, 7, MOD_CONTROL | MOD_SHIFT, 'L'));
  settings = OpenSettings(voxmere);
  ASSERT_NE(settings, nullptr);
  SendDlgItemMessageW(settings, kIdToggleHotkey, HKM_SETHOTKEY, MAKEWORD('L', HOTKEYF_CONTROL | HOTKEYF_SHIFT), 0);
  Press(VK_RETURN);
  EXPECT_TRUE(voxmere.WaitLogged("Ctrl+Shift+L is held by another program", 1, 5000));
  wchar_t note[128] = {};
  EXPECT_TRUE(WaitFor([&] { return GetDlgItemTextW(settings, kIdHotkeyNote, note, 128) > 0; }, 5000));
  EXPECT_TRUE(IsWindow(settings));
  Press(VK_ESCAPE);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(settings); }, 10000));
  UnregisterHotKey(nullptr, 7);
  EXPECT_EQ(voxmere.Exit(), 0);
}

// The DLLs an image mapped as a resource imports, in lower case.
std::vector<std::string> ImportedDlls(HMODULE image) {
  const auto* base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(image) & ~ULONG_PTR(3));
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::vector<std::string> names;
  for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       imports.VirtualAddress && entry->Name; ++entry) {
    std::string name = reinterpret_cast<const char*>(base + entry->Name);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    names.push_back(name);
  }
  return names;
}

}  // namespace

// What Explorer and the loader read from the file: the icon, the version
// record, a GUI subsystem, and a manifest declaring per-monitor DPI awareness
// (v2, with the older form for older systems) and no common controls
// version (the classic controls stay).
TEST(AppExecutableTest, CarriesIconVersionRecordAndADpiAwareManifest) {
  const std::wstring path = TestBinDirectory() + L"\\Voxmere.exe";
  HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr);
  EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(1), RT_GROUP_ICON), nullptr);
  HRSRC manifest = FindResourceW(image, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(manifest, nullptr);
  const std::string text(static_cast<const char*>(LockResource(LoadResource(image, manifest))),
                         SizeofResource(image, manifest));
  for (const char* part : {"<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, "
                           "PerMonitor</dpiAwareness>", ">true/pm</dpiAware>"})
    EXPECT_NE(text.find(part), std::string::npos) << part;
  EXPECT_EQ(text.find("Common-Controls"), std::string::npos);
  // Loaded before main: not the DLLs that only the settings window, the text
  // engine or the HTTP client call, which load at their first call.
  std::vector<std::string> imported = ImportedDlls(image);
  EXPECT_NE(std::find(imported.begin(), imported.end(), "user32.dll"), imported.end());
  for (const char* later : {"comctl32.dll", "comdlg32.dll", "dwrite.dll", "winhttp.dll"})
    EXPECT_EQ(std::find(imported.begin(), imported.end(), later), imported.end()) << later;
  FreeLibrary(image);

  std::vector<char> record(GetFileVersionInfoSizeW(path.c_str(), nullptr));
  ASSERT_TRUE(!record.empty() && GetFileVersionInfoW(path.c_str(), 0, DWORD(record.size()), record.data()));
  VS_FIXEDFILEINFO* fixed = nullptr; UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(std::vector<DWORD>({fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS, fixed->dwProductVersionLS}),
            std::vector<DWORD>({0x00010001u, 0u, 0x00010001u, 0u}));
  for (const auto& [key, expected] : {std::pair<const wchar_t*, const wchar_t*>{L"ProductName", L"Voxmere"}, {L"FileDescription", L"Voxmere"},
                                      {L"OriginalFilename", L"Voxmere.exe"}, {L"FileVersion", L"1.1.0.0"}, {L"ProductVersion", L"1.1.0.0"}}) {
    wchar_t* value = nullptr;
    ASSERT_TRUE(VerQueryValueW(record.data(), (std::wstring(L"\\StringFileInfo\\040904b0\\") + key).c_str(),
                               reinterpret_cast<void**>(&value), &length)) << NarrowAscii(key);
    EXPECT_STREQ(value, expected);
  }

  std::vector<char> head(4096);
  ASSERT_TRUE(std::ifstream(NarrowAscii(path), std::ios::binary).read(head.data(), head.size()));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data());
  ASSERT_TRUE(dos->e_magic == IMAGE_DOS_SIGNATURE && dos->e_lfanew + sizeof(IMAGE_NT_HEADERS64) < head.size());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(head.data() + dos->e_lfanew);
  EXPECT_EQ(std::make_pair(nt->FileHeader.Machine, nt->OptionalHeader.Subsystem),
            std::make_pair(WORD(IMAGE_FILE_MACHINE_AMD64), WORD(IMAGE_SUBSYSTEM_WINDOWS_GUI)));
}
