// Once at every start: finds BetterDiscord's plugins folder and, when the
// Tallybell plugin is missing there, offers to copy the one shipped beside
// the executable. Stateless; user-interface thread only.
#pragma once

#include <windows.h>

#include <string>

// 0: nothing installed (already there, declined or failed), 1: installed
// now, 2: BetterDiscord not found.
int CheckPluginInstallation(HWND owner);

// The same decision for given folders (the roaming application-data folder
// and the executable's folder), so tests can bring their own.
int CheckPluginInstallationIn(HWND owner, const std::wstring& roamingFolder, const std::wstring& exeFolder);

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
