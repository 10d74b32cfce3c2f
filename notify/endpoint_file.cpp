#include "notify/endpoint_file.h"

#include <shlwapi.h>

#include <utility>

#include "app/json.h"
#include "app/log.h"
#include "app/text_convert.h"
#include "app/win_handles.h"

namespace {

using ProcessHandle = Owned<HANDLE, CloseHandle>;  // OpenProcess

void Log(const std::wstring& message) { WriteLogLine(L"[Endpoint] " + message); }

std::string ReadSmallFile(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  char buffer[1024];
  DWORD read = 0;
  if (!ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) return {};
  return std::string(buffer, read);
}

std::wstring FileNameOfProcess(HANDLE process) {
  wchar_t image[MAX_PATH];
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameW(process, 0, image, &size)) return {};
  return PathFindFileNameW(image);
}

}  // namespace

std::wstring EndpointFilePathIn(const std::wstring& roamingFolder) {
  if (roamingFolder.empty()) return {};
  return roamingFolder + L"\\Voxmere\\endpoint.json";
}

EndpointFile::EndpointFile(std::wstring path, std::string version)
    : path(std::move(path)), version(std::move(version)), pid(GetCurrentProcessId()) {}

EndpointFile::~EndpointFile() { Withdraw(); }

void EndpointFile::Publish(uint16_t port) {
  if (path.empty()) return;
  if (port == 0) return Withdraw();
  if (owned && NamesThisProcess(port)) return;
  if (!owned) {
    const DWORD other = LiveOtherOwner();
    if (other && other != leftTo)
      Log(path + L" names Voxmere process " + std::to_wstring(other) +
          L", which still runs: left to it (this one listens on port " + std::to_wstring(port) + L")");
    leftTo = other;
    if (other) return;
  }
  owned = Write(port);
}

bool EndpointFile::NamesThisProcess(uint16_t port) const {
  const std::optional<Json> record = ParseJson(ReadSmallFile(path));
  return record && JsonInt(*record, "pid", 0) == pid && JsonInt(*record, "port", 0) == port;
}

DWORD EndpointFile::LiveOtherOwner() const {
  const std::string text = ReadSmallFile(path);
  if (text.empty()) return 0;
  std::string problem;
  const std::optional<Json> record = ParseJson(text, &problem);
  if (!record) {
    Log(path + L" is not valid JSON (" + Utf8ToWide(problem) + L"): replaced");
    return 0;
  }
  const int64_t named = JsonInt(*record, "pid", 0);
  if (named <= 0 || named > 0xFFFFFFFFLL || static_cast<DWORD>(named) == pid) return 0;
  ProcessHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(named)));
  DWORD exitCode = 0;
  // A pid reused by another program since a crash does not count.
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (process && GetExitCodeProcess(process.Get(), &exitCode) && exitCode == STILL_ACTIVE &&
      lstrcmpiW(FileNameOfProcess(process.Get()).c_str(), PathFindFileNameW(self)) == 0)
    return static_cast<DWORD>(named);
  Log(path + L" names process " + std::to_wstring(named) + L", which no longer runs Voxmere: replaced");
  return 0;
}

bool EndpointFile::Write(uint16_t port) {
  const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    Log(L"ERROR: CreateDirectoryW " + folder + L" failed: " + std::to_wstring(GetLastError()));
    return false;
  }
  // Written beside it and moved over it in one step: a reader sees the old
  // record or the new one, never half of one.
  const std::wstring temporary = path + L"." + std::to_wstring(pid) + L".tmp";
  const std::string text = FormatJson(Json{{"port", port}, {"pid", pid}, {"version", version}});
  {
    FileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) {
      Log(L"ERROR: CreateFileW " + temporary + L" failed: " + std::to_wstring(GetLastError()));
      return false;
    }
    DWORD written = 0;
    if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !FlushFileBuffers(file.Get())) {
      Log(L"ERROR: writing " + temporary + L" failed: " + std::to_wstring(GetLastError()));
      file.Reset();
      DeleteFileW(temporary.c_str());
      return false;
    }
  }
  if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Log(L"ERROR: MoveFileExW to " + path + L" failed: " + std::to_wstring(GetLastError()));
    DeleteFileW(temporary.c_str());
    return false;
  }
  Log(L"Wrote " + path + L": port " + std::to_wstring(port));
  return true;
}

void EndpointFile::Withdraw() {
  if (!owned) return;
  owned = false;
  // Only while it still names this process.
  const std::optional<Json> record = ParseJson(ReadSmallFile(path));
  if (!record || JsonInt(*record, "pid", 0) != pid) return;
  if (DeleteFileW(path.c_str()))
    Log(L"Removed " + path);
  else
    Log(L"ERROR: DeleteFileW " + path + L" failed: " + std::to_wstring(GetLastError()));
}
