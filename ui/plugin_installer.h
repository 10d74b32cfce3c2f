// Once at every start: finds BetterDiscord's plugins folder and, when the
// Tallybell plugin is missing there or older than the one shipped beside the
// executable, offers to copy that one. Its one memory is the version whose
// update the user declined (config.json). User-interface thread only.
#pragma once

#include <windows.h>

#include <string>

// 0: nothing installed (already there, declined or failed), 1: installed
// or updated now, 2: BetterDiscord not found. A declined update is saved to
// config.json.
int CheckPluginInstallation(HWND owner);

// The same decision for given folders (the roaming application-data folder
// and the executable's folder), so tests can bring their own. An update to
// the version in *declinedUpdate is not offered; a declined one is put there.
int CheckPluginInstallationIn(HWND owner, const std::wstring& roamingFolder, const std::wstring& exeFolder,
                              std::string* declinedUpdate);

// The roaming folder's "\BetterDiscord\plugins", or empty when the roaming
// folder is empty.
std::wstring GetPluginsFolder(const std::wstring& roamingFolder);
std::wstring GetRoamingAppDataFolder();
bool IsBetterDiscordInstalled(const std::wstring& pluginsFolder);
bool IsPluginInstalled(const std::wstring& pluginsFolder);
// The plugin file is there and BetterDiscord keeps it switched on (in any of
// its release channels' data/<channel>/plugins.json).
bool IsPluginEnabled(const std::wstring& roamingFolder);
bool InstallPlugin(const std::wstring& exeFolder, const std::wstring& pluginsFolder);
