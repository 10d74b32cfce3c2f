#include <windows.h>
#include <shlwapi.h>

#include <cstdio>

#include "app/config.h"
#include "app/log.h"
#include "app/text_convert.h"
#include "app/win_handles.h"

std::wstring GetExeDirectory() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  PathRemoveFileSpecW(path);
  return path;
}

std::wstring GetConfigPath() { return GetExeDirectory() + L"\\config.json"; }

bool LoadConfig(Config& config, const std::wstring& path) {
  FILE* file = _wfopen(path.c_str(), L"rt");
  if (!file) return false;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, file)) > 0) text.append(buf, n);
  fclose(file);
  std::string problem = ApplyConfigText(config, text);
  if (!problem.empty())
    WriteLogLine(L"[Config] config.json is not valid JSON (" + Utf8ToWide(problem) +
                 L"); each key whose own value could be read was taken");
  return true;
}

namespace {

void LogSaveFailure(const wchar_t* call, DWORD error) {
  WriteLogLine(std::wstring(L"[Config] ERROR: Settings not saved, ") + call + L" failed (" + std::to_wstring(error) +
               L"); config.json was left as it was");
}

// The file as it is written: CR LF line ends, as Notepad users expect.
std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// The whole text into a new file, on the disk before it returns true.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    LogSaveFailure(L"CreateFileW", GetLastError());
    return false;
  }
  DWORD written = 0;
  if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    LogSaveFailure(L"WriteFile", GetLastError());
    return false;
  }
  if (!FlushFileBuffers(file.Get())) {
    LogSaveFailure(L"FlushFileBuffers", GetLastError());
    return false;
  }
  return true;
}

}  // namespace

// Opening config.json for writing would empty it before the new text is
// known to fit: the text goes to a file beside it, which then takes its
// place in one step, so a full disk or a crash leaves the old settings.
bool SaveConfig(const Config& config, const std::wstring& path) {
  const std::wstring temporary = path + L".saving";
  bool saved = WriteWholeFile(temporary, WithCrLf(FormatConfigText(config)));
  if (saved && !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    LogSaveFailure(L"MoveFileExW", GetLastError());
    saved = false;
  }
  if (!saved) DeleteFileW(temporary.c_str());
  return saved;
}
