// debug.log beside the executable: one UTF-8 line per event, no time stamp.
// Any thread may log: each line goes out whole under one lock, and the file
// is closed between lines, so a crash loses nothing already written and the
// user can copy it while the program runs. Past g_logLimitBytes the file
// becomes debug.old.log (replacing an older one) and a new one begins.
#pragma once

#include <cstdint>
#include <string>

extern std::wstring g_logPath;
extern uint64_t g_logLimitBytes;

// A fresh log at path, the previous run's gone: the first line, then the
// lines logged before (start-up reads config.json before it may take over
// the log from a running instance), which were held until now.
void BeginLog(const std::wstring& path, const std::wstring& firstLine);
void WriteLogLine(const std::wstring& text);
