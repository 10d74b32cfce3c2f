// debug.log under Wine: whole UTF-8 lines from many threads at once, the
// lines logged before the log begins, and the change to debug.old.log past
// the bound.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/log.h"
#include "tests/support/child_process.h"

namespace {

std::string FileText(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsUtf8(const std::string& text) {
  return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0) > 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "the file ends inside a line";
  return lines;
}

class LogTest : public testing::Test {
 protected:
  void TearDown() override {
    g_logPath.clear();
    g_logLimitBytes = kDefaultLimit;
    DeleteFileW(path.c_str());
    DeleteFileW(old.c_str());
  }
  const uint64_t kDefaultLimit = g_logLimitBytes;
  const std::wstring path = TestBinDirectory() + L"\\log_test.log";
  const std::wstring old = TestBinDirectory() + L"\\log_test.old.log";
};

// Lines logged before the log begins follow its first line; the previous
// run's file is gone.
TEST_F(LogTest, BeginKeepsWhatWasLoggedBefore) {
  std::ofstream(path.c_str()) << "a line of the previous run\n";
  WriteLogLine(L"[Config] config.json is not valid JSON");
  BeginLog(path, L"=== Started ===");
  WriteLogLine(L"after");
  EXPECT_EQ(FileText(path), "=== Started ===\r\n[Config] config.json is not valid JSON\r\nafter\r\n");
}

// Four threads flooding at once: every line arrives whole and once, in
// UTF-8 however it is spelled (Latin-1 letters, kana, an emoji).
TEST_F(LogTest, LinesFromManyThreadsArriveWholeInUtf8) {
  BeginLog(path, L"start");
  const std::wstring names[] = {L"Jos\x00E9", L"M\x00FCller", L"\x3042\x3044", L"\xD83C\xDFAE gamer"};
  constexpr int kLinesEach = 1500;
  std::vector<std::thread> threads;
  for (const std::wstring& name : names)
    threads.emplace_back([&name] {
      for (int i = 0; i < kLinesEach; ++i)
        WriteLogLine(L"[NotifServer] Queued notification from pipe: " + name + L", pending count: " + std::to_wstring(i));
    });
  for (std::thread& thread : threads) thread.join();

  const std::string text = FileText(path);
  EXPECT_TRUE(IsUtf8(text));
  std::set<std::string> expected = {"start"};
  for (const char* name : {"Jos\xC3\xA9", "M\xC3\xBCller", "\xE3\x81\x82\xE3\x81\x84", "\xF0\x9F\x8E\xAE gamer"})
    for (int i = 0; i < kLinesEach; ++i)
      expected.insert(std::string("[NotifServer] Queued notification from pipe: ") + name + ", pending count: " +
                      std::to_string(i));
  const std::vector<std::string> lines = Lines(text);
  EXPECT_EQ(lines.size(), expected.size());
  size_t spliced = 0;
  for (const std::string& line : lines) spliced += expected.erase(line) == 0;
  EXPECT_EQ(spliced, 0u);
  EXPECT_TRUE(expected.empty()) << expected.size() << " lines missing";
}

// Past the bound the file becomes the old log, replacing an older one, and a
// new file begins; no line is split between the two. With "start" (7 bytes)
// and lines of 100: 9 lines fit the first file, 10 the second, 5 remain.
TEST_F(LogTest, PastTheBoundTheFileBecomesTheOldLog) {
  std::ofstream(old.c_str()) << "an older old log\n";
  g_logLimitBytes = 1000;
  BeginLog(path, L"start");
  const std::wstring line(98, L'x');
  for (int i = 0; i < 24; ++i) WriteLogLine(line);
  WriteLogLine(L"last");
  const std::string x(98, 'x');
  EXPECT_EQ(Lines(FileText(old)), std::vector<std::string>(10, x));
  EXPECT_EQ(Lines(FileText(path)), (std::vector<std::string>{x, x, x, x, x, "last"}));
}

}  // namespace
