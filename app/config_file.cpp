#include <windows.h>
#include <shlwapi.h>

#include <cstdio>

#include "app/config.h"
#include "app/log.h"
#include "app/text_convert.h"

Config g_config;

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

bool SaveConfig(const Config& config, const std::wstring& path) {
  FILE* file = _wfopen(path.c_str(), L"wt");
  if (!file) return false;
  std::string text = FormatConfigText(config);
  bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
  return (fclose(file) == 0) && ok;
}
