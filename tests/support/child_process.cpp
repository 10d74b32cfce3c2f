#include "tests/support/child_process.h"

namespace {

// The complete lines of text that hold the fragment, without line ends.
std::vector<std::string> LinesHolding(const std::string& text, const std::string& fragment) {
  std::vector<std::string> lines;
  for (size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
    const std::string line = text.substr(begin, end - begin - (end > begin && text[end - 1] == '\r'));
    if (line.find(fragment) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

}  // namespace

std::wstring TestBinDirectory() {
  wchar_t path[MAX_PATH];
  const std::wstring exe(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
  return exe.substr(0, exe.find_last_of(L"\\/"));
}

std::string NarrowAscii(const std::wstring& text) { return std::string(text.begin(), text.end()); }
std::wstring WidenAscii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
  for (const ULONGLONG deadline = GetTickCount64() + timeoutMs; !done(); Sleep(50))
    if (GetTickCount64() > deadline) return false;
  return true;
}

std::vector<std::string> ReadLogLines(const std::wstring& path, const std::string& fragment) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  std::string text(file == INVALID_HANDLE_VALUE ? 0 : GetFileSize(file, nullptr), '\0');
  DWORD n = 0;
  if (file != INVALID_HANDLE_VALUE && ReadFile(file, &text[0], DWORD(text.size()), &n, nullptr)) text.resize(n);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return LinesHolding(text, fragment);
}

void DeleteTree(const std::wstring& directory) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
    const std::wstring name = found.cFileName, path = directory + L"\\" + name;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) DeleteTree(path);
    else DeleteFileW(path.c_str());
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  RemoveDirectoryW(directory.c_str());
}

bool ChildProcess::Start(const std::wstring& commandLine, const std::wstring& directory, bool captureOutput) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr;
  if (captureOutput && CreatePipe(&outRead, &outWrite, &inherit, 0) && CreatePipe(&inRead, &stdinWrite_, &inherit, 0)) {
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(stdinWrite_, HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = outWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = inRead;
  }
  std::wstring line = commandLine;
  PROCESS_INFORMATION info = {};
  const bool ok = (!captureOutput || inRead) && CreateProcessW(nullptr, &line[0], nullptr, nullptr, captureOutput, 0,
                                                               nullptr, directory.c_str(), &startup, &info);
  for (HANDLE h : {outWrite, inRead, ok ? nullptr : outRead, info.hThread})
    if (h) CloseHandle(h);
  if (!ok) return false;
  process_ = info.hProcess;
  processId_ = info.dwProcessId;
  if (captureOutput) reader_ = std::thread([this, outRead] { ReadOutput(outRead); });
  return true;
}

void ChildProcess::Kill() {
  if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 1);
  if (process_) WaitForSingleObject(process_, 5000);
  for (HANDLE* h : {&process_, &stdinWrite_})
    if (*h) CloseHandle(std::exchange(*h, nullptr));
  if (reader_.joinable()) reader_.join();
}

int ChildProcess::WaitExit(DWORD timeoutMs) {
  DWORD code = 0;
  if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return -1;
  return GetExitCodeProcess(process_, &code) ? int(code) : -1;
}

bool ChildProcess::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

std::vector<std::string> ChildProcess::Lines(const std::string& fragment) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return LinesHolding(output_, fragment);
}

void ChildProcess::ReadOutput(HANDLE out) {
  char buffer[4096];
  for (DWORD read = 0; ReadFile(out, buffer, sizeof(buffer), &read, nullptr) && read > 0;) {
    std::lock_guard<std::mutex> lock(mutex_);
    output_.append(buffer, read);
  }
  CloseHandle(out);
}
