// Voxmere.exe started as a user starts it: start-up lines, the first-run
// defaults, the tray's Exit command and the single-instance guard. No Discord
// client runs, so the program stays disconnected throughout.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

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
