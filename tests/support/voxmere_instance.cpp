#include "tests/support/voxmere_instance.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

Config TestConfig() {
  Config config;
  config.allow_multi_instance = true;
  config.language = "en";
  return config;
}

VoxmereInstance::VoxmereInstance(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  directory_ = std::wstring(temp) + name + L"_" + std::to_wstring(GetCurrentProcessId());
  DeleteTree(directory_);
  ready_ = CreateDirectoryW(directory_.c_str(), nullptr) &&
           CopyFileW((TestBinDirectory() + L"\\Voxmere.exe").c_str(), PathOf(L"Voxmere.exe").c_str(), FALSE);
}

VoxmereInstance::~VoxmereInstance() {
  if (process_.Running()) Exit(5000);
  process_.Kill();
  if (::testing::Test::HasFailure()) PrintLogTail();
  DeleteTree(directory_);
}

// A failure on a loaded CI machine is read from its output alone.
void VoxmereInstance::PrintLogTail() const {
  constexpr size_t kTailLines = 80;
  const std::vector<std::string> lines = Log();
  const size_t first = lines.size() > kTailLines ? lines.size() - kTailLines : 0;
  std::printf("--- last %zu of %zu lines of %s\\debug.log\n", lines.size() - first, lines.size(),
              NarrowAscii(directory_).c_str());
  for (size_t i = first; i < lines.size(); ++i) std::printf("%s\n", lines[i].c_str());
}

bool VoxmereInstance::WriteConfig(const Config& config) const {
  return WriteFile(L"config.json", FormatConfigText(config));
}

bool VoxmereInstance::WriteFile(const std::wstring& fileName, const std::string& bytes) const {
  std::ofstream file(NarrowAscii(PathOf(fileName)), std::ios::binary);
  file << bytes;
  return static_cast<bool>(file);
}

bool VoxmereInstance::FileExists(const std::wstring& fileName) const {
  return GetFileAttributesW(PathOf(fileName).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string VoxmereInstance::ReadFile(const std::wstring& fileName) const {
  std::ifstream file(NarrowAscii(PathOf(fileName)), std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

bool VoxmereInstance::Start(const std::vector<std::pair<std::wstring, std::wstring>>& environment) {
  // Its endpoint file stays in its folder unless the test names another:
  // tests running side by side share one roaming folder.
  SetEnvironmentVariableW(L"VOXMERE_ENDPOINT_FILE", PathOf(L"endpoint.json").c_str());
  for (const auto& [name, value] : environment) SetEnvironmentVariableW(name.c_str(), value.c_str());
  bool started = process_.Start(L"\"" + PathOf(L"Voxmere.exe") + L"\"", directory_, false);
  for (const auto& entry : environment) SetEnvironmentVariableW(entry.first.c_str(), nullptr);
  SetEnvironmentVariableW(L"VOXMERE_ENDPOINT_FILE", nullptr);
  return started;
}

HWND VoxmereInstance::MessageWindow() const {
  HWND window = nullptr;
  while ((window = FindWindowExW(HWND_MESSAGE, window, L"VoxmereMessageClass", nullptr))) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == process_.Id()) return window;
  }
  return nullptr;
}

int VoxmereInstance::Exit(DWORD timeoutMs) {
  HWND window = MessageWindow();
  if (window) PostMessageW(window, WM_COMMAND, 1004, 0);
  int code = process_.WaitExit(timeoutMs);
  process_.Kill();
  return code;
}

std::vector<std::string> VoxmereInstance::Log(const std::string& fragment) const {
  return ReadLogLines(PathOf(L"debug.log"), fragment);
}

bool VoxmereInstance::WaitLogged(const std::string& fragment, size_t count, DWORD timeoutMs) const {
  return WaitFor([&] { return Log(fragment).size() >= count; }, timeoutMs);
}
