// Test support: child processes started from a test under Wine, with their
// standard output collected line by line, and polling with a time-out.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Directory of the running test executable: the build's bin directory, where
// Voxmere.exe and the tools are.
std::wstring TestBinDirectory();

std::string NarrowAscii(const std::wstring& text);
std::wstring WidenAscii(const std::string& text);

// Polls every 50 ms; false when the condition still fails after timeoutMs.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs);

// Lines of a log file holding the fragment, without line ends; read with
// full sharing, so the writer may go on appending.
std::vector<std::string> ReadLogLines(const std::wstring& path, const std::string& fragment = "");
// Removes a scratch folder and everything in it.
void DeleteTree(const std::wstring& directory);

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Kill(); }

  // captureOutput: standard output is read into Lines() and standard input is
  // a pipe that stays open until Kill (tools watching for end of input).
  bool Start(const std::wstring& commandLine, const std::wstring& directory, bool captureOutput);
  void Kill();
  // Exit code once it ended within timeoutMs; -1 otherwise.
  int WaitExit(DWORD timeoutMs);
  DWORD Id() const { return processId_; }
  bool Running() const;

  // Output lines holding the fragment (all of them for an empty one).
  std::vector<std::string> Lines(const std::string& fragment = "") const;

 private:
  void ReadOutput(HANDLE out);

  HANDLE process_ = nullptr;
  DWORD processId_ = 0;
  HANDLE stdinWrite_ = nullptr;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::string output_;  // all it wrote so far
};
