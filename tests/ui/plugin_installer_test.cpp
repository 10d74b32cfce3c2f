// The plugin installer against scratch roaming and executable folders; its
// message boxes are answered from a second thread as a user answers them.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

#include "app/log.h"
#include "app/text.h"
#include "tests/support/child_process.h"
#include "tests/support/message_box_probe.h"
#include "ui/plugin_installer.h"

namespace {

const char kPluginBody[] = "/** @name Tallybell */\nmodule.exports = class {};\n";

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

enum Layout { kNoBetterDiscord, kPluginsIsAFile, kNoRoaming, kReady, kNoSource, kSourceHeld, kInstalled };

// Each row starts from empty folders; the boxes are answered with `answer`
// (OK where that is the only button).
TEST(PluginInstaller, BoxesLogAndCopyFollowTheFoldersAndAnswers) {
  const struct {
    Layout layout;
    int language, answer, result;
    size_t boxes;
    const wchar_t* lastCaption;
    TextId lastText;
    const char* lastLog;  // a part of the log's last line; nullptr: no log at all
    const char* installedAfter;
  } cases[] = {
      {kNoBetterDiscord, 0, IDYES, 2, 1, L"Voxmere - BetterDiscord Not Found", kTextBetterDiscordMissing, " exists: false", ""},
      {kPluginsIsAFile, 0, IDYES, 2, 1, L"Voxmere - BetterDiscord Not Found", kTextBetterDiscordMissing, " exists: false", ""},
      {kNoRoaming, 1, IDYES, 2, 1, L"Voxmere - BetterDiscord未検出", kTextBetterDiscordMissing, nullptr, ""},
      {kReady, 0, IDNO, 0, 1, L"Voxmere - Plugin Installation", kTextPluginInstallQuestion, " exists: false", ""},
      {kReady, 0, IDYES, 1, 2, L"Voxmere - Installation Complete", kTextPluginInstalled, "Plugin installed successfully", kPluginBody},
      {kInstalled, 0, IDYES, 0, 0, nullptr, kTextPluginInstalled, "Tallybell plugin already installed", "user's own copy"},
      {kNoSource, 1, IDYES, 0, 2, L"Voxmere - エラー", kTextPluginFileNotFound, "ERROR: Source plugin file not found: ", ""},
      // Another program holds the source without sharing it.
      {kSourceHeld, 0, IDYES, 0, 2, L"Voxmere - Error", kTextPluginCopyFailed, "ERROR: Failed to copy plugin, error: 32", ""},
  };
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"voxmere_installer_" + std::to_wstring(GetCurrentProcessId());
  const std::wstring roaming = root + L"\\Roaming", exe = root + L"\\Voxmere", bd = roaming + L"\\BetterDiscord";
  const std::wstring plugins = bd + L"\\plugins", source = exe + L"\\Tallybell.plugin.js";
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "layout " << c.layout << " answer " << c.answer);
    DeleteTree(root);
    for (const std::wstring& folder : {root, roaming, exe}) CreateDirectoryW(folder.c_str(), nullptr);
    if (c.layout != kNoBetterDiscord) CreateDirectoryW(bd.c_str(), nullptr);
    if (c.layout == kPluginsIsAFile) std::ofstream(plugins.c_str()) << "not a folder";
    if (c.layout >= kReady) CreateDirectoryW(plugins.c_str(), nullptr);
    if (c.layout != kNoSource) std::ofstream(source.c_str(), std::ios::binary) << kPluginBody;
    if (c.layout == kInstalled) std::ofstream((plugins + L"\\Tallybell.plugin.js").c_str()) << c.installedAfter;
    HANDLE held = CreateFileW(source.c_str(), GENERIC_READ, c.layout == kSourceHeld ? 0 : 7, nullptr, OPEN_EXISTING, 0, nullptr);
    g_logPath = root + L"\\debug.log", g_language = c.language;

    std::atomic<bool> stop{false};
    std::vector<MessageBoxProbe> seen;
    std::thread answerer([&] {
      while (!stop) {
        MessageBoxProbe probe = WaitForMessageBox(GetCurrentProcessId(), 100);
        if (!probe.box) continue;
        seen.push_back(probe);
        if (!PressMessageBoxButton(probe.box, IDOK)) PressMessageBoxButton(probe.box, c.answer);
        WaitFor([&] { return !IsWindow(probe.box); }, 5000);
      }
    });
    EXPECT_EQ(CheckPluginInstallationIn(nullptr, c.layout == kNoRoaming ? L"" : roaming, exe), c.result);
    stop = true, answerer.join();
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);

    ASSERT_EQ(seen.size(), c.boxes);
    const std::wstring text = c.language ? TextTable(c.lastText).japanese : TextTable(c.lastText).english;
    if (c.boxes) {
      EXPECT_EQ(seen.back().caption + L"|" + seen.back().text.substr(0, text.find(L'\n')),
                c.lastCaption + (L"|" + text.substr(0, text.find(L'\n'))));
    }
    const std::vector<std::string> log = ReadLogLines(g_logPath);
    EXPECT_EQ(log.empty() ? !c.lastLog : c.lastLog && log.back().find(c.lastLog) != std::string::npos, true);
    EXPECT_EQ(ReadBytes(plugins + L"\\Tallybell.plugin.js"), c.installedAfter);
  }
  g_language = 0, g_logPath.clear(), DeleteTree(root);
}

}  // namespace
