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
#include "ui/plugin_version.h"

namespace {

const char kPluginBody[] = "/**\n * @name Tallybell\n * @version 1.2.0\n */\nmodule.exports = class {};\n";
const char kOldPlugin[] = "/**\n * @name Tallybell\n * @version 1.1.0\n */\nmodule.exports = class {};\n";
const char kUnversioned[] = "/** @name Tallybell */\nmodule.exports = class {};\n";

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

enum Layout { kNoBetterDiscord, kPluginsIsAFile, kNoRoaming, kReady, kNoSource, kSourceHeld };

// Each row starts from empty folders; the boxes are answered with `answer`
// (OK where that is the only button).
TEST(PluginInstaller, BoxesLogAndCopyFollowTheFoldersAndAnswers) {
  const struct {
    Layout layout;
    const char* installed;  // the plugin already in BetterDiscord's folder; nullptr: none
    const char* shipped;    // beside the executable (unless kNoSource)
    const char* declinedBefore;
    int language, answer, result;
    size_t boxes;
    const wchar_t* lastCaption;
    TextId lastText;
    const char* lastLog;  // a part of the log's last line; nullptr: no log at all
    const char* installedAfter;
    const char* declinedAfter;
    const char* alsoLogged;        // a part of some earlier line, or nullptr
    const wchar_t* lastFirstLine;  // the last box's first line when it is formatted
  } cases[] = {
      {kNoBetterDiscord, nullptr, kPluginBody, "", 0, IDYES, 2, 1, L"Voxmere - BetterDiscord Not Found", kTextBetterDiscordMissing, " exists: false", "", "", nullptr, nullptr},
      {kPluginsIsAFile, nullptr, kPluginBody, "", 0, IDYES, 2, 1, L"Voxmere - BetterDiscord Not Found", kTextBetterDiscordMissing, " exists: false", "", "", nullptr, nullptr},
      {kNoRoaming, nullptr, kPluginBody, "", 1, IDYES, 2, 1, L"Voxmere - BetterDiscord未検出", kTextBetterDiscordMissing, nullptr, "", "", nullptr, nullptr},
      {kReady, nullptr, kPluginBody, "", 0, IDNO, 0, 1, L"Voxmere - Plugin Installation", kTextPluginInstallQuestion, " exists: false", "", "", nullptr, nullptr},
      {kReady, nullptr, kPluginBody, "", 0, IDYES, 1, 2, L"Voxmere - Installation Complete", kTextPluginInstalled, "Plugin installed successfully", kPluginBody, "", nullptr, nullptr},
      {kNoSource, nullptr, kPluginBody, "", 1, IDYES, 0, 2, L"Voxmere - エラー", kTextPluginFileNotFound, "ERROR: Source plugin file not found: ", "", "", nullptr, nullptr},
      // Another program holds the source without sharing it.
      {kSourceHeld, nullptr, kPluginBody, "", 0, IDYES, 0, 2, L"Voxmere - Error", kTextPluginCopyFailed, "ERROR: Failed to copy plugin, error: 32", "", "", nullptr, nullptr},
      // Installed and current, or newer (by number, not text): nothing asked.
      {kReady, kPluginBody, kPluginBody, "", 0, IDYES, 0, 0, nullptr, kTextPluginInstalled, "Tallybell plugin already installed", kPluginBody, "",
       "Installed plugin version: 1.2.0, version beside Voxmere.exe: 1.2.0", nullptr},
      {kReady, "/**\n * @version 1.10.0\n */", kPluginBody, "", 0, IDYES, 0, 0, nullptr, kTextPluginInstalled, "Tallybell plugin already installed",
       "/**\n * @version 1.10.0\n */", "", nullptr, nullptr},
      // Older: offered with both versions; declined, remembered.
      {kReady, kOldPlugin, kPluginBody, "1.1.5", 0, IDNO, 0, 1, L"Voxmere - Plugin Update", kTextPluginUpdateQuestion,
       "Update to 1.2.0 declined; not offered again for this version", kOldPlugin, "1.2.0",
       "Installed plugin version: 1.1.0, version beside Voxmere.exe: 1.2.0",
       L"This Voxmere comes with a newer version of the integration plugin (Tallybell): 1.2.0. The version installed in BetterDiscord is 1.1.0."},
      {kReady, kOldPlugin, kPluginBody, "1.2.0", 0, IDYES, 0, 0, nullptr, kTextPluginInstalled, "Tallybell plugin already installed", kOldPlugin, "1.2.0",
       "Update to 1.2.0 was declined before; not offered again", nullptr},
      {kReady, kOldPlugin, kPluginBody, "1.1.5", 1, IDYES, 1, 2, L"Voxmere - 更新完了", kTextPluginUpdated, "Plugin installed successfully", kPluginBody, "1.1.5",
       "Installed plugin version: 1.1.0, version beside Voxmere.exe: 1.2.0", nullptr},
      // The user's own copy without a version counts as older; a shipped one
      // without a version replaces nothing.
      {kReady, "user's own copy", kPluginBody, "", 0, IDNO, 0, 1, L"Voxmere - Plugin Update", kTextPluginUpdateQuestion,
       "Update to 1.2.0 declined; not offered again for this version", "user's own copy", "1.2.0", "no readable version; treated as older",
       L"This Voxmere comes with a newer version of the integration plugin (Tallybell): 1.2.0. The version installed in BetterDiscord is none."},
      {kReady, kOldPlugin, kUnversioned, "", 0, IDYES, 0, 0, nullptr, kTextPluginInstalled, "Tallybell plugin already installed", kOldPlugin, "",
       "Installed plugin version: 1.1.0, version beside Voxmere.exe: none", nullptr},
  };
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"voxmere_installer_" + std::to_wstring(GetCurrentProcessId());
  const std::wstring roaming = root + L"\\Roaming", exe = root + L"\\Voxmere", bd = roaming + L"\\BetterDiscord";
  const std::wstring plugins = bd + L"\\plugins", source = exe + L"\\Tallybell.plugin.js";
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "layout " << c.layout << " installed " << (c.installed ? c.installed : "none")
                                    << " answer " << c.answer);
    DeleteTree(root);
    for (const std::wstring& folder : {root, roaming, exe}) CreateDirectoryW(folder.c_str(), nullptr);
    if (c.layout != kNoBetterDiscord) CreateDirectoryW(bd.c_str(), nullptr);
    if (c.layout == kPluginsIsAFile) std::ofstream(plugins.c_str()) << "not a folder";
    if (c.layout >= kReady) CreateDirectoryW(plugins.c_str(), nullptr);
    if (c.layout != kNoSource) std::ofstream(source.c_str(), std::ios::binary) << c.shipped;
    if (c.installed) std::ofstream((plugins + L"\\Tallybell.plugin.js").c_str(), std::ios::binary) << c.installed;
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
    std::string declined = c.declinedBefore;
    EXPECT_EQ(CheckPluginInstallationIn(nullptr, c.layout == kNoRoaming ? L"" : roaming, exe, &declined), c.result);
    stop = true, answerer.join();
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);

    ASSERT_EQ(seen.size(), c.boxes);
    const std::wstring text = c.language ? TextTable(c.lastText).japanese : TextTable(c.lastText).english;
    if (c.boxes) {
      const std::wstring firstLine = c.lastFirstLine ? c.lastFirstLine : text.substr(0, text.find(L'\n'));
      EXPECT_EQ(seen.back().caption + L"|" + seen.back().text.substr(0, seen.back().text.find(L'\n')),
                c.lastCaption + (L"|" + firstLine));
    }
    const std::vector<std::string> log = ReadLogLines(g_logPath);
    EXPECT_EQ(log.empty() ? !c.lastLog : c.lastLog && log.back().find(c.lastLog) != std::string::npos, true);
    if (c.alsoLogged) {
      EXPECT_EQ(ReadLogLines(g_logPath, c.alsoLogged).size(), 1u) << c.alsoLogged;
    }
    EXPECT_EQ(ReadBytes(plugins + L"\\Tallybell.plugin.js"), c.installedAfter);
    EXPECT_EQ(declined, c.declinedAfter);
  }
  g_language = 0, g_logPath.clear(), DeleteTree(root);
}

// The plugin the build puts beside Voxmere.exe carries a version that the
// update check can order.
TEST(PluginInstaller, BuiltPluginCarriesAnOrderedVersion) {
  std::string version = PluginVersionOf(ReadBytes(TestBinDirectory() + L"\\Tallybell.plugin.js"));
  EXPECT_TRUE(IsDottedVersion(version)) << version;
}

}  // namespace
