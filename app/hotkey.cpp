#include "app/hotkey.h"

#include <cwctype>
#include <vector>

namespace {

struct NamedKey {
  const wchar_t* name;
  uint32_t key;
};

// Keys beyond letters, digits and F1-F24, by their virtual-key codes.
const NamedKey kNamedKeys[] = {
    {L"Space", 0x20},   {L"PageUp", 0x21}, {L"PageDown", 0x22}, {L"End", 0x23},   {L"Home", 0x24},
    {L"Left", 0x25},    {L"Up", 0x26},     {L"Right", 0x27},    {L"Down", 0x28},  {L"Insert", 0x2D},
    {L"Delete", 0x2E},  {L"Pause", 0x13},  {L"ScrollLock", 0x91}, {L"Backspace", 0x08}, {L"Tab", 0x09},
    {L"Enter", 0x0D},   {L"Esc", 0x1B},
};

const NamedKey kModifiers[] = {
    {L"Ctrl", kHotkeyCtrl}, {L"Shift", kHotkeyShift}, {L"Alt", kHotkeyAlt}, {L"Win", kHotkeyWin}};

std::wstring Lower(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::vector<std::wstring> SplitOnPlus(const std::wstring& text) {
  std::vector<std::wstring> parts(1);
  for (wchar_t c : text) {
    if (c == L'+') parts.emplace_back();
    else if (!std::iswspace(c)) parts.back() += c;
  }
  return parts;
}

std::optional<uint32_t> KeyCode(const std::wstring& name) {
  std::wstring lower = Lower(name);
  if (lower.size() == 1 && ((lower[0] >= L'a' && lower[0] <= L'z') || (lower[0] >= L'0' && lower[0] <= L'9')))
    return static_cast<uint32_t>(std::towupper(lower[0]));
  if (lower.size() >= 2 && lower.size() <= 3 && lower[0] == L'f') {
    int number = 0;
    for (size_t i = 1; i < lower.size(); ++i) {
      if (!std::iswdigit(lower[i])) return std::nullopt;
      number = number * 10 + (lower[i] - L'0');
    }
    if (number >= 1 && number <= 24) return 0x70 + static_cast<uint32_t>(number - 1);
    return std::nullopt;
  }
  for (const auto& named : kNamedKeys)
    if (lower == Lower(named.name)) return named.key;
  return std::nullopt;
}

std::wstring KeyName(uint32_t key) {
  if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) return std::wstring(1, static_cast<wchar_t>(key));
  if (key >= 0x70 && key <= 0x87) return L"F" + std::to_wstring(key - 0x70 + 1);
  for (const auto& named : kNamedKeys)
    if (named.key == key) return named.name;
  return {};
}

}  // namespace

std::optional<Hotkey> ParseHotkey(const std::wstring& text) {
  std::vector<std::wstring> parts = SplitOnPlus(text);
  Hotkey hotkey;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    bool known = false;
    for (const auto& modifier : kModifiers) {
      std::wstring lower = Lower(parts[i]);
      if (lower == Lower(modifier.name) || (modifier.key == kHotkeyCtrl && lower == L"control")) {
        hotkey.modifiers |= modifier.key;
        known = true;
      }
    }
    if (!known) return std::nullopt;
  }
  std::optional<uint32_t> key = KeyCode(parts.back());
  if (!key || !(hotkey.modifiers & (kHotkeyCtrl | kHotkeyAlt | kHotkeyWin))) return std::nullopt;
  hotkey.key = *key;
  return hotkey;
}

std::wstring FormatHotkey(const Hotkey& hotkey) {
  std::wstring name = KeyName(hotkey.key);
  if (name.empty()) return {};
  std::wstring text;
  for (const auto& modifier : kModifiers)
    if (hotkey.modifiers & modifier.key) text += std::wstring(modifier.name) + L"+";
  return text + name;
}
