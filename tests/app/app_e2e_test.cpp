// Voxmere.exe started as a user starts it: start-up lines, the first-run
// defaults, the tray's Exit command and the single-instance guard. No Discord
// client runs, so the program stays disconnected throughout.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/message_box_probe.h"
#include "tests/support/voxmere_instance.h"

namespace {

TEST(AppE2eTest, FirstRunStartsWithDefaultsAndExitsCleanly) {
  VoxmereInstance voxmere(L"voxmere_first_run");
  ASSERT_TRUE(voxmere.Ready());
  ASSERT_TRUE(voxmere.WriteFile(L"debug.log", "line of an earlier run\r\n"));
  ASSERT_TRUE(voxmere.Start());
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
