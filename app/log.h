// debug.log beside the executable: one line per event, no time stamp. Each
// line opens, appends and closes the file, so any thread may log and a crash
// loses nothing already written.
#pragma once

#include <string>

extern std::wstring g_logPath;

void WriteLogLine(const std::wstring& text);
