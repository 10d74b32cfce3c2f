#include "ui/plugin_installer.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "app/config.h"
#include "app/log.h"
#include "app/text.h"
#include "app/voice_source.h"

namespace {

constexpr wchar_t kPluginFileName[] = L"\\Tallybell.plugin.js";

void Log(const std::wstring& message) { WriteLogLine(L"[BDInstaller] " + message); }

const wchar_t* TrueFalse(bool value) { return value ? L"true" : L"false"; }

// The one formatted message: "%s" replaced by the source path, within the
// 1024-character buffer the message box text has always had.
std::wstring FormatSourceMissing(const std::wstring& sourcePath) {
  std::wstring text = Text(kTextPluginFileNotFound);
  size_t marker = text.find(L"%s");
  if (marker != std::wstring::npos) text.replace(marker, 2, sourcePath);
  if (text.size() > 1023) text.resize(1023);
  return text;
}

}  // namespace

std::wstring GetRoamingAppDataFolder() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  return path;
}

std::wstring GetPluginsFolder(const std::wstring& roamingFolder) {
  if (roamingFolder.empty()) return {};
  return roamingFolder + L"\\BetterDiscord\\plugins";
}

bool IsBetterDiscordInstalled(const std::wstring& pluginsFolder) {
  if (pluginsFolder.empty()) return false;
  DWORD attributes = GetFileAttributesW(pluginsFolder.c_str());
  bool exists = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  Log(L"BD plugins path: " + pluginsFolder + L" exists: " + TrueFalse(exists));
  return exists;
}

bool IsPluginInstalled(const std::wstring& pluginsFolder) {
  std::wstring destination = pluginsFolder + kPluginFileName;
  bool exists = PathFileExistsW(destination.c_str()) != FALSE;
  Log(L"Plugin path: " + destination + L" exists: " + TrueFalse(exists));
  return exists;
}

bool IsPluginEnabled(const std::wstring& roamingFolder) {
  if (roamingFolder.empty() || !IsPluginInstalled(GetPluginsFolder(roamingFolder))) return false;
  for (const wchar_t* channel : {L"stable", L"ptb", L"canary"}) {
    const std::wstring path = roamingFolder + L"\\BetterDiscord\\data\\" + channel + L"\\plugins.json";
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) continue;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    fclose(file);
    if (PluginEnabledIn(text)) {
      Log(L"Tallybell plugin enabled in " + path);
      return true;
    }
  }
  Log(L"Tallybell plugin not enabled in BetterDiscord");
  return false;
}

bool InstallPlugin(const std::wstring& exeFolder, const std::wstring& pluginsFolder) {
  std::wstring source = exeFolder + kPluginFileName;
  std::wstring destination = pluginsFolder + kPluginFileName;
  Log(L"Installing plugin: " + source + L" -> " + destination);
  if (!PathFileExistsW(source.c_str())) {
    Log(L"ERROR: Source plugin file not found: " + source);
    MessageBoxW(nullptr, FormatSourceMissing(source).c_str(), Text(kTextErrorTitle), MB_ICONERROR);
    return false;
  }
  if (!CopyFileW(source.c_str(), destination.c_str(), FALSE)) {
    Log(L"ERROR: Failed to copy plugin, error: " + std::to_wstring(GetLastError()));
    MessageBoxW(nullptr, Text(kTextPluginCopyFailed), Text(kTextErrorTitle), MB_ICONERROR);
    return false;
  }
  Log(L"Plugin installed successfully");
  return true;
}

int CheckPluginInstallationIn(HWND owner, const std::wstring& roamingFolder, const std::wstring& exeFolder) {
  std::wstring pluginsFolder = GetPluginsFolder(roamingFolder);
  if (!IsBetterDiscordInstalled(pluginsFolder)) {
    MessageBoxW(owner, Text(kTextBetterDiscordMissing), Text(kTextBetterDiscordMissingTitle),
                MB_ICONWARNING | MB_OK);
    return 2;
  }
  if (IsPluginInstalled(pluginsFolder)) {
    Log(L"Tallybell plugin already installed");
    return 0;
  }
  if (MessageBoxW(owner, Text(kTextPluginInstallQuestion), Text(kTextPluginInstallTitle),
                  MB_ICONQUESTION | MB_YESNO) != IDYES)
    return 0;
  if (!InstallPlugin(exeFolder, pluginsFolder)) return 0;
  MessageBoxW(owner, Text(kTextPluginInstalled), Text(kTextPluginInstalledTitle), MB_ICONINFORMATION | MB_OK);
  return 1;
}

int CheckPluginInstallation(HWND owner) {
  return CheckPluginInstallationIn(owner, GetRoamingAppDataFolder(), GetExeDirectory());
}
