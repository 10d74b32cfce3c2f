// Test support: a Voxmere.exe copy in a scratch directory of its own, so its
// config.json and debug.log belong to the test that runs it.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "app/config.h"
#include "tests/support/child_process.h"

class VoxmereInstance {
 public:
  // Creates %TEMP%\<name>_<pid> holding a copy of Voxmere.exe from beside the
  // test; check Ready() before use.
  explicit VoxmereInstance(const std::wstring& name);
  ~VoxmereInstance();
  VoxmereInstance(const VoxmereInstance&) = delete;
  VoxmereInstance& operator=(const VoxmereInstance&) = delete;

  bool Ready() const { return ready_; }
  const std::wstring& Directory() const { return directory_; }
  std::wstring PathOf(const std::wstring& fileName) const { return directory_ + L"\\" + fileName; }

  bool WriteConfig(const Config& config) const;
  bool WriteFile(const std::wstring& fileName, const std::string& bytes) const;
  bool FileExists(const std::wstring& fileName) const;
  std::string ReadFile(const std::wstring& fileName) const;

  // Starts the copy; the variables are set for the child only.
  // VOXMERE_ENDPOINT_FILE is PathOf("endpoint.json") unless they name it.
  bool Start(const std::vector<std::pair<std::wstring, std::wstring>>& environment = {});
  // The tray menu's Exit, posted to this process's message window; the exit
  // code, or -1 when it did not end within the time-out (it is then killed).
  int Exit(DWORD timeoutMs = 10000);
  // The message-only window of this process, once it exists.
  HWND MessageWindow() const;
  ChildProcess& Process() { return process_; }

  // debug.log lines holding the fragment, without line ends.
  std::vector<std::string> Log(const std::string& fragment = "") const;
  bool WaitLogged(const std::string& fragment, size_t count = 1, DWORD timeoutMs = 20000) const;

 private:
  void PrintLogTail() const;

  std::wstring directory_;
  bool ready_ = false;
  ChildProcess process_;
};

// A Config for tests: English, several instances allowed, no plugin question
// answered by a person (the test answers or avoids it).
Config TestConfig();
