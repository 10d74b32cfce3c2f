// Test support: discord_sim.exe from the build's bin directory as a child
// process, serving \\.\pipe\discord-ipc-0 and its loopback web side.
#pragma once

#include <string>

#include "tests/support/child_process.h"

// Starts the simulator with the extra arguments (scenario, token mode...) and
// its web side on httpPort (0: a free port). Returns the web side's base URL
// once it listens; empty when it did not start within 20 s.
std::string StartDiscordSim(ChildProcess& sim, const std::wstring& arguments, int httpPort = 0);
