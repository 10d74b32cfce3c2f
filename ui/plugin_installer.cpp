#include "ui/plugin_installer.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "app/config.h"
#include "app/settings_store.h"
#include "app/log.h"
#include "app/text.h"
#include "app/text_convert.h"
#include "app/voice_source.h"
#include "ui/plugin_version.h"

namespace {

constexpr wchar_t kPluginFileName[] = L"\\Tallybell.plugin.js";

void Log(const std::wstring& message) { WriteLogLine(L"[BDInstaller] " + message); }

const wchar_t* TrueFalse(bool value) { return value ? L"true" : L"false"; }

// A text with each "%s" in turn replaced by the next value, within the
// 1024-character buffer the message box text has always had.
std::wstring FormatText(TextId id, std::initializer_list<std::wstring> values) {
  std::wstring text = Text(id);
  size_t at = 0;
  for (const std::wstring& value : values) {
    at = text.find(L"%s", at);
    if (at == std::wstring::npos) break;
    text.replace(at, 2, value);
    at += value.size();
  }
  if (text.size() > 1023) text.resize(1023);
  return text;
}

// The version in a plugin file's opening comment; the header is all that is
// read, and a missing file reads as no version.
std::string VersionOfFile(const std::wstring& path) {
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (!file) return {};
  char head[8192];
  const size_t read = fread(head, 1, sizeof head, file);
  fclose(file);
  return PluginVersionOf(std::string_view(head, read));
}

std::wstring Shown(const std::string& version) { return version.empty() ? L"none" : Utf8ToWide(version); }

// An installed plugin without a readable version predates versions or was
// changed by hand: it is offered the shipped one. One beside the executable
// without a readable version is no reason to replace anything.
bool ShouldOfferUpdate(const std::string& installed, const std::string& shipped, const std::string& declined) {
  Log(L"Installed plugin version: " + Shown(installed) + L", version beside Voxmere.exe: " + Shown(shipped));
  if (!IsDottedVersion(shipped)) {
    Log(L"The plugin beside Voxmere.exe has no readable version; no update offered");
    return false;
  }
  const std::optional<int> order = CompareVersions(installed, shipped);
  if (order && *order >= 0) return false;
  if (!order) Log(L"The installed plugin has no readable version; treated as older");
  if (shipped == declined) {
    Log(L"Update to " + Shown(shipped) + L" was declined before; not offered again");
    return false;
  }
  return true;
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
    MessageBoxW(nullptr, FormatText(kTextPluginFileNotFound, {source}).c_str(), Text(kTextErrorTitle), MB_ICONERROR);
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

namespace {

// The plugin is in place: updated when the user takes the newer one offered.
int OfferPluginUpdate(HWND owner, const std::wstring& pluginsFolder, const std::wstring& exeFolder,
                      std::string* declinedUpdate) {
  const std::string installed = VersionOfFile(pluginsFolder + kPluginFileName);
  const std::string shipped = VersionOfFile(exeFolder + kPluginFileName);
  if (!ShouldOfferUpdate(installed, shipped, *declinedUpdate)) {
    Log(L"Tallybell plugin already installed");
    return 0;
  }
  if (MessageBoxW(owner, FormatText(kTextPluginUpdateQuestion, {Shown(shipped), Shown(installed)}).c_str(),
                  Text(kTextPluginUpdateTitle), MB_ICONQUESTION | MB_YESNO) != IDYES) {
    *declinedUpdate = shipped;
    Log(L"Update to " + Shown(shipped) + L" declined; not offered again for this version");
    return 0;
  }
  if (!InstallPlugin(exeFolder, pluginsFolder)) return 0;
  MessageBoxW(owner, Text(kTextPluginUpdated), Text(kTextPluginUpdatedTitle), MB_ICONINFORMATION | MB_OK);
  return 1;
}

}  // namespace

int CheckPluginInstallationIn(HWND owner, const std::wstring& roamingFolder, const std::wstring& exeFolder,
                              std::string* declinedUpdate) {
  std::wstring pluginsFolder = GetPluginsFolder(roamingFolder);
  if (!IsBetterDiscordInstalled(pluginsFolder)) {
    MessageBoxW(owner, Text(kTextBetterDiscordMissing), Text(kTextBetterDiscordMissingTitle),
                MB_ICONWARNING | MB_OK);
    return 2;
  }
  if (IsPluginInstalled(pluginsFolder)) return OfferPluginUpdate(owner, pluginsFolder, exeFolder, declinedUpdate);
  if (MessageBoxW(owner, Text(kTextPluginInstallQuestion), Text(kTextPluginInstallTitle),
                  MB_ICONQUESTION | MB_YESNO) != IDYES)
    return 0;
  if (!InstallPlugin(exeFolder, pluginsFolder)) return 0;
  MessageBoxW(owner, Text(kTextPluginInstalled), Text(kTextPluginInstalledTitle), MB_ICONINFORMATION | MB_OK);
  return 1;
}

int CheckPluginInstallation(HWND owner) {
  const std::string declinedBefore = g_settings.Committed().declined_plugin_update;
  std::string declined = declinedBefore;
  const int result = CheckPluginInstallationIn(owner, GetRoamingAppDataFolder(), GetExeDirectory(), &declined);
  if (declined == declinedBefore) return result;
  g_settings.Change([&declined](Config& settings) { settings.declined_plugin_update = declined; });
  if (!SaveConfig(g_settings.Committed(), GetConfigPath()))
    Log(L"ERROR: Failed to save the declined update to " + GetConfigPath());
  return result;
}
