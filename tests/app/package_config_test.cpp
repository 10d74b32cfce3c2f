// The config.json shipped in the release package must hold every key with
// the built-in defaults, so copying it beside the exe changes nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/config.h"

TEST(PackageConfig, HoldsEveryKeyWithItsDefault) {
  std::ostringstream read;
  read << std::ifstream(VOXMERE_SAMPLE_CONFIG, std::ios::binary).rdbuf();
  const std::string sample = read.str();
  // Other values first, so the sample's own are seen; an empty value keeps
  // what is there, so pip_window_title is found by its key.
  Config defaults, loaded;
  loaded.client_secret = loaded.overlay_position = L"changed", loaded.notification_duration = 1;
  ApplyConfigText(loaded, sample);
  EXPECT_EQ(FormatConfigText(loaded), FormatConfigText(defaults));
  EXPECT_TRUE(loaded.client_secret == defaults.client_secret && loaded.overlay_position == defaults.overlay_position &&
              loaded.notification_duration == defaults.notification_duration);
  std::istringstream written(FormatConfigText(defaults) + "\"pip_window_title\":");
  for (std::string line; std::getline(written, line);) {  // one "key": value a line
    const size_t open = line.find('"'), close = line.find("\":");
    EXPECT_TRUE(close == std::string::npos || sample.find(line.substr(open, close + 2 - open)) != std::string::npos) << line;
  }
}
