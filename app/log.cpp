#include <windows.h>

#include <mutex>
#include <vector>

#include "app/log.h"
#include "app/text_convert.h"
#include "app/win_handles.h"

std::wstring g_logPath;
uint64_t g_logLimitBytes = 4 * 1024 * 1024;

namespace {

// The C runtime's append (and Wine's, for a handle that may only append)
// seeks to the end and then writes: two threads in between splice their
// lines. One writer at a time keeps each whole.
std::mutex g_logLock;
// Lines logged before BeginLog, a few at most.
std::vector<std::wstring> g_heldLines;
constexpr size_t kHeldLineLimit = 32;

std::wstring OldLogPath() {
  const std::wstring suffix = L".log";
  const std::wstring& path = g_logPath;
  if (path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
    return path.substr(0, path.size() - suffix.size()) + L".old.log";
  return path + L".old";
}

FileHandle OpenLog() {
  return FileHandle(CreateFileW(g_logPath.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

// g_logLock held. A line that would take the file past the bound goes to a
// new one; the line itself is never split.
void AppendLocked(const std::wstring& text) {
  const std::string bytes = WideToUtf8(text) + "\r\n";
  FileHandle file = OpenLog();
  if (!file) return;  // e.g. a read-only folder: the line is lost, nothing else happens
  LARGE_INTEGER size = {};
  if (GetFileSizeEx(file.Get(), &size) && size.QuadPart > 0 &&
      static_cast<uint64_t>(size.QuadPart) + bytes.size() > g_logLimitBytes) {
    file.Reset();
    MoveFileExW(g_logPath.c_str(), OldLogPath().c_str(), MOVEFILE_REPLACE_EXISTING);
    file = OpenLog();
    if (!file) return;
  }
  DWORD written = 0;
  WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

void BeginLog(const std::wstring& path, const std::wstring& firstLine) {
  std::lock_guard<std::mutex> lock(g_logLock);
  g_logPath = path;
  DeleteFileW(g_logPath.c_str());
  AppendLocked(firstLine);
  for (const std::wstring& line : g_heldLines) AppendLocked(line);
  g_heldLines.clear();
}

void WriteLogLine(const std::wstring& text) {
  std::lock_guard<std::mutex> lock(g_logLock);
  if (!g_logPath.empty()) return AppendLocked(text);
  if (g_heldLines.size() < kHeldLineLimit) g_heldLines.push_back(text);
}
