#include "tests/support/discord_sim_process.h"

std::string StartDiscordSim(ChildProcess& sim, const std::wstring& arguments, int httpPort) {
  const std::wstring command = L"\"" + TestBinDirectory() + L"\\discord_sim.exe\" --pipe 0 --exit-on-eof --http-port " +
                               std::to_wstring(httpPort) + L" " + arguments;
  if (!sim.Start(command, TestBinDirectory(), true)) return {};
  if (!WaitFor([&] { return !sim.Lines("LISTENING").empty(); }, 20000)) return {};
  const auto http = sim.Lines("HTTP http://");
  return http.empty() ? std::string() : http.front().substr(5);
}
