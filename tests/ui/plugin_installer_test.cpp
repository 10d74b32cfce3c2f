// The plugin installer against scratch roaming and executable folders; its
// message boxes are answered from a second thread as a user answers them.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/log.h"
#include "app/text.h"
#include "app/text_convert.h"
#include "tests/support/child_process.h"
#include "tests/support/message_box_probe.h"
#include "ui/plugin_installer.h"

namespace {

const char kPluginBody[] = "/** @name Tallybell */\nmodule.exports = class {};\n";

std::wstring In(int language, TextId id) {
  return language ? TextTable(id).japanese : TextTable(id).english;
}

struct SeenBox {
  std::wstring caption;
  std::wstring text;
};

// Answers every box the process shows until stopped: Yes or No to the
// question, OK to the others.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(int questionAnswer)
      : thread_([this, questionAnswer] {
          while (!stop_) {
            MessageBoxProbe probe = WaitForMessageBox(GetCurrentProcessId(), 100);
            if (!probe.box) continue;
            {
              std::lock_guard<std::mutex> lock(mutex_);
              seen_.push_back({probe.caption, probe.text});
            }
            if (!PressMessageBoxButton(probe.box, IDOK)) PressMessageBoxButton(probe.box, questionAnswer);
            WaitFor([&] { return !IsWindow(probe.box); }, 5000);
          }
        }) {}
  ~BoxAnswerer() { Stop(); }
  std::vector<SeenBox> Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<SeenBox> seen_;
  std::thread thread_;
};

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

class PluginInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    root_ = std::wstring(temp) + L"voxmere_installer_" + std::to_wstring(GetCurrentProcessId());
    DeleteTree(root_);
    roaming_ = root_ + L"\\Roaming";
    exe_ = root_ + L"\\Voxmere";
    for (const std::wstring& folder : {root_, roaming_, exe_}) CreateDirectoryW(folder.c_str(), nullptr);
    plugins_ = roaming_ + L"\\BetterDiscord\\plugins";
    installed_ = plugins_ + L"\\Tallybell.plugin.js";
    source_ = exe_ + L"\\Tallybell.plugin.js";
    g_logPath = root_ + L"\\debug.log";
    g_language = 0;
  }
  void TearDown() override {
    g_language = 0;
    g_logPath.clear();
    DeleteTree(root_);
  }

  void MakeBetterDiscord() {
    CreateDirectoryW((roaming_ + L"\\BetterDiscord").c_str(), nullptr);
    CreateDirectoryW(plugins_.c_str(), nullptr);
  }
  // Runs the check with its boxes answered; the boxes it showed, in order.
  std::vector<SeenBox> Check(int questionAnswer, int expectedResult) {
    BoxAnswerer answerer(questionAnswer);
    EXPECT_EQ(CheckPluginInstallationIn(nullptr, roaming_, exe_), expectedResult);
    return answerer.Stop();
  }
  std::vector<std::string> LogLines() const { return ReadLogLines(g_logPath); }
  std::string Narrow(const std::wstring& text) const { return WideToBytes(text); }

  std::wstring root_, roaming_, exe_, plugins_, installed_, source_;
};

TEST_F(PluginInstallerTest, WithoutBetterDiscordOnlyTheWarningIsShown) {
  struct Case {
    const char* name;
    bool pluginsIsFile;
  };
  for (const Case& c : {Case{"no folder", false}, Case{"plugins is a file", true}}) {
    SCOPED_TRACE(c.name);
    DeleteFileW(g_logPath.c_str());
    if (c.pluginsIsFile) {
      CreateDirectoryW((roaming_ + L"\\BetterDiscord").c_str(), nullptr);
      WriteBytes(plugins_, "not a folder");
    }
    WriteBytes(source_, kPluginBody);
    std::vector<SeenBox> boxes = Check(IDYES, 2);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Voxmere - BetterDiscord Not Found");
    EXPECT_EQ(boxes[0].text, Text(kTextBetterDiscordMissing));
    EXPECT_EQ(LogLines(), std::vector<std::string>{"[BDInstaller] BD plugins path: " + Narrow(plugins_) +
                                                   " exists: false"});
  }

  // An unresolvable roaming folder: the same box (here in Japanese), no log line.
  DeleteFileW(g_logPath.c_str());
  g_language = 1;
  BoxAnswerer answerer(IDYES);
  EXPECT_EQ(CheckPluginInstallationIn(nullptr, L"", exe_), 2);
  const std::vector<SeenBox> boxes = answerer.Stop();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, L"Voxmere - BetterDiscord未検出");
  EXPECT_EQ(boxes[0].text, In(1, kTextBetterDiscordMissing));
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(PluginInstallerTest, AnswersDecideTheCopyAndAnInstalledPluginIsLeftAlone) {
  MakeBetterDiscord();
  WriteBytes(source_, kPluginBody);
  std::vector<SeenBox> declined = Check(IDNO, 0);
  ASSERT_EQ(declined.size(), 1u);
  EXPECT_EQ(declined[0].caption, L"Voxmere - Plugin Installation");
  EXPECT_EQ(declined[0].text, Text(kTextPluginInstallQuestion));
  EXPECT_EQ(GetFileAttributesW(installed_.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(LogLines().size(), 2u);

  DeleteFileW(g_logPath.c_str());
  std::vector<SeenBox> accepted = Check(IDYES, 1);
  ASSERT_EQ(accepted.size(), 2u);
  EXPECT_EQ(accepted[1].caption, L"Voxmere - Installation Complete");
  EXPECT_EQ(accepted[1].text, Text(kTextPluginInstalled));
  EXPECT_EQ(ReadBytes(installed_), kPluginBody);
  const std::vector<std::string> expected = {
      "[BDInstaller] BD plugins path: " + Narrow(plugins_) + " exists: true",
      "[BDInstaller] Plugin path: " + Narrow(installed_) + " exists: false",
      "[BDInstaller] Installing plugin: " + Narrow(source_) + " -> " + Narrow(installed_),
      "[BDInstaller] Plugin installed successfully",
  };
  EXPECT_EQ(LogLines(), expected);

  // Installed (and perhaps changed by the user): never asked about or replaced.
  WriteBytes(installed_, "user's own copy");
  DeleteFileW(g_logPath.c_str());
  EXPECT_TRUE(Check(IDYES, 0).empty());
  EXPECT_EQ(LogLines().back(), "[BDInstaller] Tallybell plugin already installed");
  EXPECT_EQ(ReadBytes(installed_), "user's own copy");
}

TEST_F(PluginInstallerTest, FailuresShowTheirErrorInBothLanguages) {
  MakeBetterDiscord();
  for (int language : {0, 1}) {
    SCOPED_TRACE(language);
    g_language = language;
    DeleteFileW(source_.c_str());
    DeleteFileW(g_logPath.c_str());
    std::vector<SeenBox> missing = Check(IDYES, 0);
    ASSERT_EQ(missing.size(), 2u);
    EXPECT_EQ(missing[0].text, In(language, kTextPluginInstallQuestion));
    EXPECT_EQ(missing[1].caption, language ? L"Voxmere - エラー" : L"Voxmere - Error");
    const std::wstring firstLine = language ? L"プラグインファイルが見つかりません:\n" : L"Plugin file not found:\n";
    EXPECT_EQ(missing[1].text.substr(0, firstLine.size() + source_.size() + 2), firstLine + source_ + L"\n\n");
    EXPECT_EQ(LogLines().back(), "[BDInstaller] ERROR: Source plugin file not found: " + Narrow(source_));

    // A source another program holds without sharing cannot be copied.
    WriteBytes(source_, kPluginBody);
    HANDLE held = CreateFileW(source_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::vector<SeenBox> failed = Check(IDYES, 0);
    CloseHandle(held);
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[1].text, In(language, kTextPluginCopyFailed));
    EXPECT_EQ(LogLines().back(), "[BDInstaller] ERROR: Failed to copy plugin, error: 32");
    EXPECT_EQ(GetFileAttributesW(installed_.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

}  // namespace
