#include "ui/settings_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/autostart.h"
#include "app/config.h"
#include "app/dpi.h"
#include "app/hotkey.h"
#include "app/settings_store.h"
#include "app/text.h"
#include "app/work_loop.h"
#include "overlay/overlay_window.h"
#include "ui/settings_values.h"

namespace {

constexpr wchar_t kClassName[] = L"VoxmereSettings";
constexpr int kNoText = -1;
// The window's outer size at 96 DPI; the controls below are placed in
// 96-DPI pixels too, and both grow with the window's DPI.
constexpr int kWindowWidth = 780;
constexpr int kWindowHeight = 765;
constexpr UINT kDpiChangedMessage = 0x02E0;  // WM_DPICHANGED, Windows 8.1 on

struct ControlSpec {
  const wchar_t* className;
  int id;  // 0: a label without an id
  int text;  // a TextId, or kNoText
  const wchar_t* fixedText;  // used when text is kNoText
  int x, y, width, height;
  DWORD style;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
// Every control the user works is a tab stop, in the order of the table.
constexpr DWORD kStop = kChild | WS_TABSTOP;
constexpr DWORD kTrackbar = kStop;
// Only the first slider draws its tick every ten; the others mark their ends.
constexpr DWORD kTrackbarAutoTicks = kStop | TBS_AUTOTICKS;
constexpr DWORD kSwatch = kStop | BS_OWNERDRAW;
constexpr DWORD kDropDown = kStop | CBS_DROPDOWNLIST | WS_VSCROLL;
constexpr DWORD kCheckBox = kStop | BS_AUTOCHECKBOX;
constexpr DWORD kPushButton = kStop | BS_PUSHBUTTON;
constexpr DWORD kDefaultButton = kStop | BS_DEFPUSHBUTTON;

const ControlSpec kControls[] = {
    {L"STATIC", 0, kTextInactiveOpacity, nullptr, 20, 20, 150, 20, kChild},
    {TRACKBAR_CLASSW, kIdInactiveOpacity, kNoText, L"", 170, 20, 150, 30, kTrackbarAutoTicks},
    {L"STATIC", kIdInactiveOpacityValue, kNoText, L"40%", 330, 20, 50, 20, kChild},
    {L"STATIC", 0, kTextUsernameLabelOpacity, nullptr, 20, 65, 150, 20, kChild},
    {TRACKBAR_CLASSW, kIdLabelOpacity, kNoText, L"", 170, 65, 150, 30, kTrackbar},
    {L"STATIC", kIdLabelOpacityValue, kNoText, L"100%", 330, 65, 50, 20, kChild},
    {L"STATIC", 0, kTextSpeakingColor, nullptr, 20, 110, 170, 20, kChild},
    {L"BUTTON", kIdSpeakingColor, kNoText, L"", 200, 108, 60, 24, kSwatch},
    {L"STATIC", 0, kTextMutedColor, nullptr, 20, 140, 170, 20, kChild},
    {L"BUTTON", kIdMutedColor, kNoText, L"", 200, 138, 60, 24, kSwatch},
    {L"STATIC", 0, kTextDeafenedColor, nullptr, 20, 170, 170, 20, kChild},
    {L"BUTTON", kIdDeafenedColor, kNoText, L"", 200, 168, 60, 24, kSwatch},
    {L"STATIC", 0, kTextBorderColor, nullptr, 20, 200, 170, 20, kChild},
    {L"BUTTON", kIdBorderColor, kNoText, L"", 200, 198, 60, 24, kSwatch},
    {L"STATIC", 0, kTextBorderOpacity, nullptr, 20, 235, 150, 20, kChild},
    {TRACKBAR_CLASSW, kIdBorderOpacity, kNoText, L"", 170, 235, 150, 30, kTrackbar},
    {L"STATIC", kIdBorderOpacityValue, kNoText, L"0%", 330, 235, 50, 20, kChild},
    {L"STATIC", 0, kTextUsernameFontSize, nullptr, 20, 275, 150, 20, kChild},
    {TRACKBAR_CLASSW, kIdUsernameFontSize, kNoText, L"", 170, 275, 130, 30, kTrackbar},
    {L"STATIC", kIdUsernameFontSizeValue, kNoText, L"12pt", 310, 275, 50, 20, kChild},
    {L"STATIC", 0, kTextNotificationFontSize, nullptr, 20, 315, 150, 20, kChild},
    {TRACKBAR_CLASSW, kIdNotificationFontSize, kNoText, L"", 170, 315, 130, 30, kTrackbar},
    {L"STATIC", kIdNotificationFontSizeValue, kNoText, L"12pt", 310, 315, 50, 20, kChild},
    {L"STATIC", 0, kTextNotificationPosition, nullptr, 20, 357, 150, 20, kChild},
    {L"COMBOBOX", kIdNotificationPosition, kNoText, L"", 170, 355, 190, 200, kDropDown},
    {L"BUTTON", kIdPipEnabled, kTextEnablePip, nullptr, 20, 390, 300, 24, kCheckBox},
    {L"BUTTON", kIdAllowMultiInstance, kTextAllowMultipleInstances, nullptr, 20, 420, 250, 24, kCheckBox},
    {L"STATIC", 0, kTextLanguage, nullptr, 20, 457, 150, 20, kChild},
    {L"COMBOBOX", kIdLanguage, kNoText, L"", 170, 455, 190, 150, kDropDown},
    {L"STATIC", kIdLanguageNote, kTextLanguageRestartNote, nullptr, 170, 483, 210, 20, kChild},
    {L"BUTTON", kIdShowOnlySpeaking, kTextShowOnlySpeaking, nullptr, 20, 518, 300, 24, kCheckBox},
    {L"BUTTON", kIdAlwaysShowSelf, kTextAlwaysShowSelf, nullptr, 20, 548, 300, 24, kCheckBox},
    {L"BUTTON", kIdShowAvatars, kTextShowAvatars, nullptr, 20, 578, 300, 24, kCheckBox},
    {L"STATIC", 0, kTextMaxNameLength, nullptr, 20, 613, 150, 20, kChild},
    {TRACKBAR_CLASSW, kIdMaxNameLength, kNoText, L"", 170, 613, 130, 30, kTrackbar},
    {L"STATIC", kIdMaxNameLengthValue, kNoText, L"", 310, 613, 50, 20, kChild},
    // The member column's shape and place, and the show/hide hotkey.
    {L"STATIC", 0, kTextAvatarSize, nullptr, 400, 20, 150, 20, kChild},
    {TRACKBAR_CLASSW, kIdAvatarSize, kNoText, L"", 550, 20, 130, 30, kTrackbar},
    {L"STATIC", kIdAvatarSizeValue, kNoText, L"48px", 690, 20, 60, 20, kChild},
    {L"STATIC", 0, kTextMemberLayout, nullptr, 400, 67, 150, 20, kChild},
    {L"COMBOBOX", kIdMemberLayout, kNoText, L"", 550, 65, 190, 100, kDropDown},
    {L"STATIC", 0, kTextMonitor, nullptr, 400, 107, 150, 20, kChild},
    {L"COMBOBOX", kIdMonitor, kNoText, L"", 550, 105, 190, 150, kDropDown},
    {L"STATIC", 0, kTextToggleHotkey, nullptr, 400, 147, 150, 20, kChild},
    {HOTKEY_CLASSW, kIdToggleHotkey, kNoText, L"", 550, 145, 190, 24, kStop},
    {L"STATIC", kIdHotkeyNote, kNoText, L"", 550, 173, 190, 20, kChild},
    {L"BUTTON", kIdStartWithWindows, kTextStartWithWindows, nullptr, 400, 205, 300, 24, kCheckBox},
    {L"STATIC", kIdSaveNote, kNoText, L"", 20, 650, 260, 40, kChild},
    // The OBS pages: on or off, and where they are.
    {L"BUTTON", kIdBrowserSource, kTextBrowserSourceEnabled, nullptr, 400, 238, 350, 24, kCheckBox},
    {L"STATIC", kIdBrowserSourceUrl, kNoText, L"", 420, 266, 330, 20, kChild | SS_NOPREFIX},
    {L"BUTTON", kIdShowStreamMarks, kTextShowStreamMarks, nullptr, 400, 294, 350, 24, kCheckBox},
    {L"BUTTON", kIdSave, kTextSave, nullptr, 290, 658, 80, 30, kDefaultButton},
    {L"BUTTON", kIdCancel, kTextCancel, nullptr, 390, 658, 80, 30, kPushButton},
};

const TextId kPositionItems[kNotificationPositions] = {kTextTopRight,  kTextTopLeft,   kTextBottomRight,
                                                       kTextBottomLeft, kTextTopCenter, kTextBottomCenter};
const TextId kLanguageItems[] = {kTextLanguageAuto, kTextLanguageEnglish, kTextLanguageJapanese};
const char* const kLanguageValues[] = {"", "en", "ja"};  // "": the system's language
const TextId kLayoutItems[] = {kTextLayoutVertical, kTextLayoutHorizontal};
const char* const kLayoutValues[] = {"vertical", "horizontal"};

// A drop-down list onto a field: a number is the item's place (the monitors,
// listed as they are now), a text one of the values in the items' order (a
// value not among them shows the first item).
struct ChoiceBinding {
  int id;
  const TextId* items;  // null: filled when the window opens
  size_t count;
  int32_t Config::*number;
  std::string Config::*text;
  const char* const* values;
};

const ChoiceBinding kChoices[] = {
    {kIdNotificationPosition, kPositionItems, std::size(kPositionItems), &Config::notification_position, nullptr,
     nullptr},
    {kIdLanguage, kLanguageItems, std::size(kLanguageItems), nullptr, &Config::language, kLanguageValues},
    {kIdMemberLayout, kLayoutItems, std::size(kLayoutItems), nullptr, &Config::member_layout, kLayoutValues},
    {kIdMonitor, nullptr, 0, &Config::monitor, nullptr, nullptr},
};

int ChoiceIndex(const Config& config, const ChoiceBinding& choice) {
  if (choice.number) return config.*choice.number;
  for (size_t i = 0; i < choice.count; ++i)
    if (config.*choice.text == choice.values[i]) return static_cast<int>(i);
  return 0;
}

// An index the list does not hold (none chosen) keeps the field.
void StoreChoice(Config& config, const ChoiceBinding& choice, LRESULT index) {
  if (index == CB_ERR || index < 0) return;
  if (choice.number) config.*choice.number = static_cast<int32_t>(index);
  else if (static_cast<size_t>(index) < choice.count) config.*choice.text = choice.values[index];
}

enum class SliderKind { kOpacity, kFontSize, kNameLength, kPixels };

// A slider, the label beside it and the config value it edits (an opacity
// is a float, the others whole numbers).
struct SliderBinding {
  int sliderId;
  int labelId;
  int minimum, maximum, tickEvery;
  SliderKind kind;
  float Config::*opacity;
  int32_t Config::*number;
};

const SliderBinding kSliders[] = {
    {kIdInactiveOpacity, kIdInactiveOpacityValue, 0, 100, 10, SliderKind::kOpacity, &Config::inactive_opacity, nullptr},
    {kIdLabelOpacity, kIdLabelOpacityValue, 0, 100, 10, SliderKind::kOpacity, &Config::username_label_opacity, nullptr},
    {kIdBorderOpacity, kIdBorderOpacityValue, 0, 100, 10, SliderKind::kOpacity, &Config::border_opacity, nullptr},
    {kIdUsernameFontSize, kIdUsernameFontSizeValue, kFontSizeRange.minimum, kFontSizeRange.maximum, 2,
     SliderKind::kFontSize, nullptr, &Config::username_font_size},
    {kIdNotificationFontSize, kIdNotificationFontSizeValue, kFontSizeRange.minimum, kFontSizeRange.maximum, 2,
     SliderKind::kFontSize, nullptr, &Config::notification_font_size},
    {kIdMaxNameLength, kIdMaxNameLengthValue, kNameLengthSliderMin, kNameLengthRange.maximum, 4,
     SliderKind::kNameLength, nullptr, &Config::max_name_length},
    {kIdAvatarSize, kIdAvatarSizeValue, 24, 128, 8, SliderKind::kPixels, nullptr, &Config::avatar_size},
};

// A control that maps one to one onto a field: a check box onto a flag, a
// swatch onto a colour.
template <typename T>
struct FieldBinding {
  int id;
  T Config::*field;
};

const FieldBinding<bool> kChecks[] = {
    {kIdPipEnabled, &Config::pip_enabled},
    {kIdAllowMultiInstance, &Config::allow_multi_instance},
    {kIdShowOnlySpeaking, &Config::show_only_speaking},
    {kIdAlwaysShowSelf, &Config::always_show_self},
    {kIdShowAvatars, &Config::show_avatars},
    {kIdStartWithWindows, &Config::start_with_windows},
    {kIdBrowserSource, &Config::browser_source_enabled},
    {kIdShowStreamMarks, &Config::show_stream_marks},
};

const FieldBinding<ConfigColor> kColors[] = {
    {kIdSpeakingColor, &Config::speaking_color},
    {kIdMutedColor, &Config::muted_color},
    {kIdDeafenedColor, &Config::deafened_color},
    {kIdBorderColor, &Config::border_color},
};

ConfigColor* ColorField(Config& config, int buttonId) {
  for (const auto& color : kColors)
    if (color.id == buttonId) return &(config.*color.field);
  return nullptr;
}

// The settings this window edits, from one record to another.
void CopyWindowSettings(const Config& from, Config& to) {
  for (const SliderBinding& slider : kSliders) {
    if (slider.opacity) to.*slider.opacity = from.*slider.opacity;
    if (slider.number) to.*slider.number = from.*slider.number;
  }
  for (const auto& color : kColors) to.*color.field = from.*color.field;
  for (const auto& check : kChecks) to.*check.field = from.*check.field;
  for (const ChoiceBinding& choice : kChoices) {
    if (choice.number) to.*choice.number = from.*choice.number;
    else to.*choice.text = from.*choice.text;
  }
  to.toggle_hotkey = from.toggle_hotkey;  // the hotkey control, read at Save
}

const SliderBinding* FindSlider(HWND window, HWND slider) {
  for (const SliderBinding& binding : kSliders)
    if (GetDlgItem(window, binding.sliderId) == slider) return &binding;
  return nullptr;
}

void ShowSliderValue(HWND window, const SliderBinding& binding, int value) {
  std::wstring label;
  switch (binding.kind) {
    case SliderKind::kOpacity: label = PercentLabel(value); break;
    case SliderKind::kFontSize: label = PointLabel(value); break;
    case SliderKind::kNameLength:
      label = SliderToNameLength(value) == 0 ? Text(kTextNoNameLimit) : std::to_wstring(value);
      break;
    case SliderKind::kPixels: label = std::to_wstring(value) + L"px"; break;
  }
  SetDlgItemTextW(window, binding.labelId, label.c_str());
}

// The stored value in slider units (it may lie outside the slider's range).
int StoredSliderValue(const Config& config, const SliderBinding& binding) {
  switch (binding.kind) {
    case SliderKind::kOpacity: return OpacityToSlider(config.*binding.opacity);
    case SliderKind::kFontSize:
    case SliderKind::kPixels: return config.*binding.number;
    case SliderKind::kNameLength: return NameLengthToSlider(config.*binding.number);
  }
  return 0;
}

int SliderPosition(HWND window, int sliderId) {
  return static_cast<int>(SendDlgItemMessageW(window, sliderId, TBM_GETPOS, 0, 0));
}

void StoreSliderValue(HWND window, Config& config, const SliderBinding& binding) {
  int position = SliderPosition(window, binding.sliderId);
  switch (binding.kind) {
    case SliderKind::kOpacity: config.*binding.opacity = SliderToOpacity(position); break;
    case SliderKind::kFontSize:
    case SliderKind::kPixels: config.*binding.number = position; break;
    case SliderKind::kNameLength: config.*binding.number = SliderToNameLength(position); break;
  }
}

void FillChoices(HWND window) {
  for (const ChoiceBinding& choice : kChoices)
    for (size_t i = 0; i < choice.count; ++i)
      SendDlgItemMessageW(window, choice.id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Text(choice.items[i])));
  const std::vector<DisplayMonitor> monitors = ListMonitors();
  for (size_t i = 0; i < monitors.size(); ++i) {
    const std::wstring label = MonitorLabel(monitors, static_cast<int>(i), Text(kTextPrimaryMonitor));
    SendDlgItemMessageW(window, kIdMonitor, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
  }
}

// Every control where the table puts it at this DPI, in the message font
// at that DPI; the window's own size too unless the system gave it one.
void LayOutForDpi(SettingsWindow& self, UINT dpi, const RECT* suggested) {
  auto px = [dpi](int units) { return MulDiv(units, static_cast<int>(dpi), static_cast<int>(kBaseDpi)); };
  FontHandle font(CreateMessageFont(dpi));
  for (size_t i = 0; i < self.controls.size(); ++i) {
    const ControlSpec& spec = kControls[i];
    SetWindowPos(self.controls[i], nullptr, px(spec.x), px(spec.y), px(spec.width), px(spec.height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(self.controls[i], WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
  }
  self.font = std::move(font);  // the old one goes after every control let go of it
  HWND window = self.window;
  if (suggested) {
    SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    return;
  }
  // The frame as the system draws it; the client area as the table needs it.
  RECT frame = {0, 0, 0, 0};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  const int frameWidth = frame.right - frame.left, frameHeight = frame.bottom - frame.top;
  SetWindowPos(window, nullptr, 0, 0, px(kWindowWidth - frameWidth) + frameWidth,
               px(kWindowHeight - frameHeight) + frameHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CreateSettingsControls(SettingsWindow& self) {
  HWND window = self.window;
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  self.controls.clear();
  for (const ControlSpec& spec : kControls) {
    const wchar_t* text = spec.text == kNoText ? spec.fixedText : Text(static_cast<TextId>(spec.text));
    self.controls.push_back(CreateWindowExW(0, spec.className, text, spec.style, spec.x, spec.y, spec.width,
                                            spec.height, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)),
                                            instance, nullptr));
  }
  for (const SliderBinding& binding : kSliders) {
    SendDlgItemMessageW(window, binding.sliderId, TBM_SETRANGE, TRUE, MAKELPARAM(binding.minimum, binding.maximum));
    SendDlgItemMessageW(window, binding.sliderId, TBM_SETTICFREQ, binding.tickEvery, 0);
  }
  FillChoices(window);
  LayOutForDpi(self, WindowDpi(window), nullptr);
}

// The hotkey control's word: the key in the low byte, HOTKEYF_* above it.
WPARAM ToHotkeyControl(const Hotkey& hotkey) {
  BYTE flags = 0;
  if (hotkey.modifiers & kHotkeyShift) flags |= HOTKEYF_SHIFT;
  if (hotkey.modifiers & kHotkeyCtrl) flags |= HOTKEYF_CONTROL;
  if (hotkey.modifiers & kHotkeyAlt) flags |= HOTKEYF_ALT;
  return MAKEWORD(hotkey.key, flags);
}

// What the control holds, as config.json spells it ("" when cleared).
std::string HotkeyControlText(HWND window) {
  const WORD word = LOWORD(SendDlgItemMessageW(window, kIdToggleHotkey, HKM_GETHOTKEY, 0, 0));
  const BYTE flags = HIBYTE(word);
  Hotkey hotkey;
  hotkey.key = LOBYTE(word);
  if (flags & HOTKEYF_SHIFT) hotkey.modifiers |= kHotkeyShift;
  if (flags & HOTKEYF_CONTROL) hotkey.modifiers |= kHotkeyCtrl;
  if (flags & HOTKEYF_ALT) hotkey.modifiers |= kHotkeyAlt;
  return hotkey.key ? FormatHotkey(hotkey) : std::string();
}

void ShowHotkeyNote(HWND window, bool held) {
  SetDlgItemTextW(window, kIdHotkeyNote, held ? L"" : Text(kTextHotkeyHeldElsewhere));
}

// The pages' address while they are served (the owner knows the port).
void ShowBrowserSourceUrl(const SettingsWindow& self, WPARAM apply) {
  const LRESULT port = SendMessageW(self.owner, WM_APP_BROWSER_SOURCE, apply, 0);
  const std::wstring text = port > 0 ? L"http://127.0.0.1:" + std::to_wstring(port) + L"/voice" : Text(kTextBrowserSourceOff);
  SetDlgItemTextW(self.window, kIdBrowserSourceUrl, text.c_str());
}

void LoadSettingsToControls(const SettingsWindow& self, const Config& settings) {
  HWND window = self.window;
  // The label shows the stored value, which may lie outside the slider's range.
  for (const SliderBinding& binding : kSliders) {
    int value = StoredSliderValue(settings, binding);
    SendDlgItemMessageW(window, binding.sliderId, TBM_SETPOS, TRUE, value);
    ShowSliderValue(window, binding, value);
  }
  // A monitor that is not there now leaves its list without a choice.
  for (const ChoiceBinding& choice : kChoices)
    SendDlgItemMessageW(window, choice.id, CB_SETCURSEL, ChoiceIndex(settings, choice), 0);
  for (const auto& check : kChecks)
    CheckDlgButton(window, check.id, settings.*check.field ? BST_CHECKED : BST_UNCHECKED);
  std::optional<Hotkey> hotkey = ParseHotkey(settings.toggle_hotkey);
  SendDlgItemMessageW(window, kIdToggleHotkey, HKM_SETHOTKEY, hotkey ? ToHotkeyControl(*hotkey) : 0, 0);
  ShowHotkeyNote(window, SendMessageW(self.owner, WM_APP_TOGGLE_HOTKEY, 0, 0) != 0);
  ShowBrowserSourceUrl(self, 0);
}

// The controls that are not sliders or colours, read into the draft.
void ReadChoices(HWND window, Config& settings) {
  for (const ChoiceBinding& choice : kChoices)
    StoreChoice(settings, choice, SendDlgItemMessageW(window, choice.id, CB_GETCURSEL, 0, 0));
  for (const auto& check : kChecks)
    settings.*check.field = IsDlgButtonChecked(window, check.id) == BST_CHECKED;
}

// A file that cannot be written keeps the window open and what is in force
// unchanged; a hotkey another program holds keeps it open too, naming the
// problem, but everything else is saved all the same.
void Save(SettingsWindow& self) {
  HWND window = self.window;
  const std::string hotkey = HotkeyControlText(window);
  const bool newHotkey = hotkey != g_settings.Draft().toggle_hotkey;
  g_settings.EditDraft([&](Config& draft) {
    for (const SliderBinding& binding : kSliders) StoreSliderValue(window, draft, binding);
    ReadChoices(window, draft);
    draft.toggle_hotkey = hotkey;
  });
  // The window stays with the draft, so the user can free room and save again.
  const std::wstring& path = self.configPath;
  if (!g_settings.CommitDraft([&path](const Config& next) { return SaveConfig(next, path); })) {
    SetDlgItemTextW(window, kIdSaveNote, Text(kTextSaveFailed));
    return;
  }
  SetDlgItemTextW(window, kIdSaveNote, L"");
  ApplyStartWithWindows(g_settings.Committed().start_with_windows);
  ShowBrowserSourceUrl(self, kApplyBrowserSource);
  if (newHotkey && !SendMessageW(self.owner, WM_APP_TOGGLE_HOTKEY, kApplyHotkey, 0))
    return ShowHotkeyNote(window, false);
  DestroyWindow(window);
}

void DrawColorSwatch(const DRAWITEMSTRUCT& item, ConfigColor color) {
  HBRUSH brush = CreateSolidBrush(color);
  FillRect(item.hDC, &item.rcItem, brush);
  DeleteObject(brush);
  FrameRect(item.hDC, &item.rcItem, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  if (item.itemState & ODS_FOCUS) {
    RECT inner = item.rcItem;
    InflateRect(&inner, -3, -3);
    DrawFocusRect(item.hDC, &inner);
  }
}

void ChooseSwatchColor(SettingsWindow& self, int buttonId) {
  Config draft = g_settings.Draft();
  CHOOSECOLORW chooser = {};
  chooser.lStructSize = sizeof(chooser);
  chooser.hwndOwner = self.window;
  chooser.rgbResult = *ColorField(draft, buttonId);
  chooser.lpCustColors = self.customColors;
  chooser.Flags = CC_FULLOPEN | CC_RGBINIT;
  if (!ChooseColorW(&chooser)) return;
  g_settings.EditDraft([&](Config& edited) { *ColorField(edited, buttonId) = chooser.rgbResult; });
  InvalidateRect(GetDlgItem(self.window, buttonId), nullptr, TRUE);
}

void OnCommand(SettingsWindow& self, int id, int notification) {
  HWND window = self.window;
  switch (id) {
    case IDOK:  // Enter, from IsDialogMessage
    case kIdSave: Save(self); return;
    case IDCANCEL:  // Esc
    case kIdCancel: DestroyWindow(window); return;
  }
  Config draft = g_settings.Draft();
  if (ColorField(draft, id)) {
    ChooseSwatchColor(self, id);
  } else if (notification == BN_CLICKED || notification == CBN_SELCHANGE) {
    g_settings.EditDraft([window](Config& edited) { ReadChoices(window, edited); });
  }
}

// Enter presses the focused push button, and Save otherwise.
LRESULT DefaultButton(HWND window) {
  HWND focus = GetFocus();
  int id = IsChild(window, focus) && (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON)
               ? GetDlgCtrlID(focus)
               : kIdSave;
  return MAKELRESULT(id, DC_HASDEFID);
}

}  // namespace

SettingsWindow::~SettingsWindow() {
  if (window) DestroyWindow(window);
}

bool SettingsWindow::HandleKeys(MSG& message) const { return window && IsDialogMessageW(window, &message); }

LRESULT SettingsWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_HSCROLL:
      if (const SliderBinding* binding = FindSlider(window, reinterpret_cast<HWND>(lParam))) {
        // From the position: the stored opacity, truncated, could show one less.
        ShowSliderValue(window, *binding, SliderPosition(window, binding->sliderId));
        g_settings.EditDraft([&](Config& draft) { StoreSliderValue(window, draft, *binding); });
      }
      return 0;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      Config draft = g_settings.Draft();
      const ConfigColor* color = ColorField(draft, static_cast<int>(item->CtlID));
      if (!color) break;
      DrawColorSwatch(*item, *color);
      return TRUE;
    }
    case WM_COMMAND:
      OnCommand(*this, LOWORD(wParam), HIWORD(wParam));
      return 0;
    case DM_GETDEFID:
      return DefaultButton(window);
    case kDpiChangedMessage:  // moved to a monitor of another scale, or the scale changed
      LayOutForDpi(*this, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_DESTROY:  // Save, Cancel, Esc and the close box all end here
      g_settings.EndDraft();
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK SettingsWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<SettingsWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<SettingsWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  if (message != WM_NCDESTROY) return self->Handle(message, wParam, lParam);
  // The children, which used the font, are gone.
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  self->window = nullptr;
  self->font.Reset();
  self->controls.clear();
  return DefWindowProcW(window, message, wParam, lParam);
}

void SettingsWindow::Show(HWND owner, const std::wstring& configPath) {
  if (window && IsWindow(window)) {
    SetForegroundWindow(window);
    return;
  }
  INITCOMMONCONTROLSEX commonControls = {sizeof(commonControls), ICC_BAR_CLASSES | ICC_HOTKEY_CLASS};
  InitCommonControlsEx(&commonControls);
  this->configPath = configPath;
  this->owner = owner;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = Procedure;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // already registered after the first opening
  g_settings.BeginDraft(CopyWindowSettings);
  // WS_EX_CONTROLPARENT: tabbing goes through the controls as in a dialog.
  if (!CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClassName, Text(kTextSettingsTitle),
                       WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, kWindowWidth, kWindowHeight, owner,
                       nullptr, instance, this)) {
    g_settings.EndDraft();
    return;
  }
  CreateSettingsControls(*this);
  LoadSettingsToControls(*this, g_settings.Draft());
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  SetForegroundWindow(window);
  SetFocus(GetNextDlgTabItem(window, nullptr, FALSE));  // the first control
}
