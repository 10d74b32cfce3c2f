#include "tests/support/child_process.h"

std::wstring TestBinDirectory() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(L"\\/"));
}

std::string NarrowAscii(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow.push_back(static_cast<char>(c));
  return narrow;
}

std::wstring WidenAscii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    Sleep(50);
  }
  return true;
}

std::vector<std::string> ReadLogLines(const std::wstring& path, const std::string& fragment) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  std::string text;
  if (file != INVALID_HANDLE_VALUE) {
    text.resize(GetFileSize(file, nullptr));
    DWORD n = 0;
    ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &n, nullptr);
    text.resize(n);
    CloseHandle(file);
  }
  std::vector<std::string> lines;
  for (size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
    std::string line = text.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find(fragment) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

void DeleteTree(const std::wstring& directory) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName, path = directory + L"\\" + name;
      if (name == L"." || name == L"..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) DeleteTree(path);
      else DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(directory.c_str());
}

bool ChildProcess::Start(const std::wstring& commandLine, const std::wstring& directory, bool captureOutput) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr;
  if (captureOutput) {
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) return false;
    if (!CreatePipe(&inRead, &stdinWrite_, &inherit, 0)) {
      CloseHandle(outRead);
      CloseHandle(outWrite);
      return false;
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(stdinWrite_, HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = outWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = inRead;
  }
  std::wstring line = commandLine;
  PROCESS_INFORMATION info = {};
  BOOL ok = CreateProcessW(nullptr, &line[0], nullptr, nullptr, captureOutput, 0, nullptr, directory.c_str(),
                           &startup, &info);
  if (outWrite) CloseHandle(outWrite);
  if (inRead) CloseHandle(inRead);
  if (!ok) {
    if (outRead) CloseHandle(outRead);
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  processId_ = info.dwProcessId;
  if (captureOutput) reader_ = std::thread([this, outRead] { ReadOutput(outRead); });
  return true;
}

void ChildProcess::Kill() {
  if (process_) {
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
    CloseHandle(process_);
    process_ = nullptr;
  }
  if (stdinWrite_) CloseHandle(stdinWrite_);
  stdinWrite_ = nullptr;
  if (reader_.joinable()) reader_.join();
}

int ChildProcess::WaitExit(DWORD timeoutMs) {
  if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return static_cast<int>(code);
}

bool ChildProcess::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

std::vector<std::string> ChildProcess::Lines(const std::string& fragment) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> found;
  for (const std::string& line : lines_)
    if (line.find(fragment) != std::string::npos) found.push_back(line);
  return found;
}

void ChildProcess::ReadOutput(HANDLE out) {
  std::string pending;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(out, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    pending.append(buffer, read);
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
      pending.erase(0, end + 1);
    }
  }
  CloseHandle(out);
}
