// The show/hide hotkey as config.json spells it ("Ctrl+Shift+O") and as
// RegisterHotKey takes it (modifier bits and a virtual-key code).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The platform's MOD_* bits (checked against <windows.h> where it is included).
constexpr uint32_t kHotkeyAlt = 0x1;
constexpr uint32_t kHotkeyCtrl = 0x2;
constexpr uint32_t kHotkeyShift = 0x4;
constexpr uint32_t kHotkeyWin = 0x8;

struct Hotkey {
  uint32_t modifiers = 0;
  uint32_t key = 0;  // virtual-key code
  bool operator==(const Hotkey& other) const { return modifiers == other.modifiers && key == other.key; }
};

// Modifiers and one key joined by '+', case and spaces ignored. Nothing for
// an empty text (no hotkey) or one that names no key, an unknown one, or a
// bare key without Ctrl, Alt or Win (it would take that key from every game).
std::optional<Hotkey> ParseHotkey(const std::string& text);
// The canonical spelling ParseHotkey reads back; empty for no key.
std::string FormatHotkey(const Hotkey& hotkey);
