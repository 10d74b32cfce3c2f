#include "app/hotkey.h"

#include <cctype>
#include <vector>

namespace {

struct NamedKey {
  const char* name;
  uint32_t key;
};

// Keys beyond letters, digits and F1-F24, by their virtual-key codes.
const NamedKey kNamedKeys[] = {
    {"Space", 0x20},   {"PageUp", 0x21}, {"PageDown", 0x22}, {"End", 0x23},   {"Home", 0x24},
    {"Left", 0x25},    {"Up", 0x26},     {"Right", 0x27},    {"Down", 0x28},  {"Insert", 0x2D},
    {"Delete", 0x2E},  {"Pause", 0x13},  {"ScrollLock", 0x91}, {"Backspace", 0x08}, {"Tab", 0x09},
    {"Enter", 0x0D},   {"Esc", 0x1B},
};

const NamedKey kModifiers[] = {
    {"Ctrl", kHotkeyCtrl}, {"Shift", kHotkeyShift}, {"Alt", kHotkeyAlt}, {"Win", kHotkeyWin}};

std::string Lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> SplitOnPlus(const std::string& text) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == '+') parts.emplace_back();
    else if (!std::isspace(static_cast<unsigned char>(c))) parts.back() += c;
  }
  return parts;
}

std::optional<uint32_t> KeyCode(const std::string& name) {
  std::string lower = Lower(name);
  if (lower.size() == 1 && ((lower[0] >= 'a' && lower[0] <= 'z') || (lower[0] >= '0' && lower[0] <= '9')))
    return static_cast<uint32_t>(std::toupper(static_cast<unsigned char>(lower[0])));
  if (lower.size() >= 2 && lower.size() <= 3 && lower[0] == 'f') {
    int number = 0;
    for (size_t i = 1; i < lower.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(lower[i]))) return std::nullopt;
      number = number * 10 + (lower[i] - '0');
    }
    if (number >= 1 && number <= 24) return 0x70 + static_cast<uint32_t>(number - 1);
    return std::nullopt;
  }
  for (const auto& named : kNamedKeys)
    if (lower == Lower(named.name)) return named.key;
  return std::nullopt;
}

std::string KeyName(uint32_t key) {
  if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) return std::string(1, static_cast<char>(key));
  if (key >= 0x70 && key <= 0x87) return "F" + std::to_string(key - 0x70 + 1);
  for (const auto& named : kNamedKeys)
    if (named.key == key) return named.name;
  return {};
}

}  // namespace

std::optional<Hotkey> ParseHotkey(const std::string& text) {
  std::vector<std::string> parts = SplitOnPlus(text);
  Hotkey hotkey;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    bool known = false;
    for (const auto& modifier : kModifiers) {
      std::string lower = Lower(parts[i]);
      if (lower == Lower(modifier.name) || (modifier.key == kHotkeyCtrl && lower == "control")) {
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

std::string FormatHotkey(const Hotkey& hotkey) {
  std::string name = KeyName(hotkey.key);
  if (name.empty()) return {};
  std::string text;
  for (const auto& modifier : kModifiers)
    if (hotkey.modifiers & modifier.key) text += std::string(modifier.name) + "+";
  return text + name;
}
