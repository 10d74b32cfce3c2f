// The conversions between byte strings and UTF-16 text used wherever file,
// pipe and socket bytes meet the user interface. wchar_t holds one UTF-16
// code unit on every platform this code runs on (host builds keep to 16 bits).
#pragma once

#include <string>

// Bytes taken as UTF-8; ends at the first NUL. Invalid input converts as the
// platform converts it; empty when the platform cannot convert at all.
std::wstring Utf8ToWide(const std::string& bytes);
// One unit per byte, the byte taken as signed: 0x80..0xFF become 0xFF80..0xFFFF.
std::wstring BytesToWide(const std::string& bytes);
// One byte per unit: its low 8 bits.
std::string WideToBytes(const std::wstring& text);
// UTF-16 text as UTF-8 (unpaired surrogates become U+FFFD).
std::string WideToUtf8(const std::wstring& text);
