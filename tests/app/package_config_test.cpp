// The config.json shipped in the release package must hold every key with
// the built-in defaults, so copying it beside the exe changes nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "app/config.h"

namespace {

std::string ReadSample() {
  std::ifstream file(VOXMERE_SAMPLE_CONFIG, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::set<std::string> KeysOf(const std::string& text) {
  // One "key": value pair a line, as both files are written.
  std::set<std::string> keys;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    size_t open = line.find('"');
    size_t close = line.find("\":", open + 1);
    if (open != std::string::npos && close != std::string::npos) keys.insert(line.substr(open + 1, close - open - 1));
  }
  return keys;
}

TEST(PackageConfig, HoldsEveryKeyWithItsDefault) {
  std::string sample = ReadSample();
  ASSERT_FALSE(sample.empty()) << VOXMERE_SAMPLE_CONFIG;

  Config defaults;
  // Start from other values so the sample's own are seen (an empty value
  // keeps what is there, so pip_window_title is checked by its key only).
  Config loaded;
  loaded.client_secret = L"changed";
  loaded.overlay_position = L"changed";
  loaded.notification_duration = 1;
  ApplyConfigText(loaded, sample);
  EXPECT_EQ(FormatConfigText(loaded), FormatConfigText(defaults));
  EXPECT_EQ(loaded.client_secret, defaults.client_secret);
  EXPECT_EQ(loaded.overlay_position, defaults.overlay_position);
  EXPECT_EQ(loaded.notification_duration, defaults.notification_duration);
  EXPECT_EQ(loaded.pip_window_title, defaults.pip_window_title);

  // Every key the program writes, plus the ones only set by hand.
  std::set<std::string> keys = KeysOf(sample);
  for (const std::string& written : KeysOf(FormatConfigText(defaults))) EXPECT_EQ(keys.count(written), 1u) << written;
  for (const char* handSet : {"client_secret", "overlay_position", "notification_duration", "pip_window_title"})
    EXPECT_EQ(keys.count(handSet), 1u) << handSet;
}

}  // namespace
