#include "ui/settings_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <string>

#include "app/config.h"
#include "app/text.h"
#include "app/work_loop.h"
#include "ui/settings_values.h"

namespace {

HWND g_settingsWindow = nullptr;
HFONT g_settingsFont = nullptr;
std::wstring g_settingsConfigPath;
HWND g_settingsOwner = nullptr;  // woken after a save
COLORREF g_customColors[16] = {};

constexpr wchar_t kClassName[] = L"VoxmereSettings";
constexpr int kNoText = -1;

struct ControlSpec {
  const wchar_t* className;
  int id;  // 0: a label without an id
  int text;  // a TextId, or kNoText
  const wchar_t* fixedText;  // used when text is kNoText
  int x, y, width, height;
  DWORD style;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kTrackbar = kChild;
// Only the first slider draws its tick every ten; the others mark their ends.
constexpr DWORD kTrackbarAutoTicks = kChild | TBS_AUTOTICKS;
constexpr DWORD kSwatch = kChild | BS_OWNERDRAW;
constexpr DWORD kDropDown = kChild | CBS_DROPDOWNLIST | WS_VSCROLL;
constexpr DWORD kCheckBox = kChild | BS_AUTOCHECKBOX;
constexpr DWORD kPushButton = kChild | BS_PUSHBUTTON;

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
    {L"STATIC", 0, kTextUsernameFontSize, nullptr, 20, 235, 150, 20, kChild},
    {TRACKBAR_CLASSW, kIdUsernameFontSize, kNoText, L"", 170, 235, 130, 30, kTrackbar},
    {L"STATIC", kIdUsernameFontSizeValue, kNoText, L"12pt", 310, 235, 50, 20, kChild},
    {L"STATIC", 0, kTextNotificationFontSize, nullptr, 20, 275, 150, 20, kChild},
    {TRACKBAR_CLASSW, kIdNotificationFontSize, kNoText, L"", 170, 275, 130, 30, kTrackbar},
    {L"STATIC", kIdNotificationFontSizeValue, kNoText, L"12pt", 310, 275, 50, 20, kChild},
    {L"STATIC", 0, kTextNotificationPosition, nullptr, 20, 317, 150, 20, kChild},
    {L"COMBOBOX", kIdNotificationPosition, kNoText, L"", 170, 315, 190, 200, kDropDown},
    {L"BUTTON", kIdPipEnabled, kTextEnablePip, nullptr, 20, 350, 300, 24, kCheckBox},
    {L"BUTTON", kIdAllowMultiInstance, kTextAllowMultipleInstances, nullptr, 20, 380, 250, 24, kCheckBox},
    {L"STATIC", 0, kTextLanguage, nullptr, 20, 417, 150, 20, kChild},
    {L"COMBOBOX", kIdLanguage, kNoText, L"", 170, 415, 190, 150, kDropDown},
    {L"STATIC", kIdLanguageNote, kTextLanguageRestartNote, nullptr, 170, 443, 210, 20, kChild},
    {L"BUTTON", kIdShowOnlySpeaking, kTextShowOnlySpeaking, nullptr, 20, 478, 300, 24, kCheckBox},
    {L"BUTTON", kIdAlwaysShowSelf, kTextAlwaysShowSelf, nullptr, 20, 508, 300, 24, kCheckBox},
    {L"STATIC", 0, kTextMaxNameLength, nullptr, 20, 543, 150, 20, kChild},
    {TRACKBAR_CLASSW, kIdMaxNameLength, kNoText, L"", 170, 543, 130, 30, kTrackbar},
    {L"STATIC", kIdMaxNameLengthValue, kNoText, L"", 310, 543, 50, 20, kChild},
    {L"BUTTON", kIdSave, kTextSave, nullptr, 100, 588, 80, 30, kPushButton},
    {L"BUTTON", kIdCancel, kTextCancel, nullptr, 200, 588, 80, 30, kPushButton},
};

const TextId kPositionItems[] = {kTextTopRight,  kTextTopLeft,   kTextBottomRight,
                                 kTextBottomLeft, kTextTopCenter, kTextBottomCenter};
const TextId kLanguageItems[] = {kTextLanguageAuto, kTextLanguageEnglish, kTextLanguageJapanese};

enum class SliderKind { kOpacity, kFontSize, kNameLength };

// A slider, the label beside it and the config value it edits.
struct SliderBinding {
  int sliderId;
  int labelId;
  int minimum, maximum, tickEvery;
  SliderKind kind;
};

const SliderBinding kSliders[] = {
    {kIdInactiveOpacity, kIdInactiveOpacityValue, 0, 100, 10, SliderKind::kOpacity},
    {kIdLabelOpacity, kIdLabelOpacityValue, 0, 100, 10, SliderKind::kOpacity},
    {kIdUsernameFontSize, kIdUsernameFontSizeValue, 8, 24, 2, SliderKind::kFontSize},
    {kIdNotificationFontSize, kIdNotificationFontSizeValue, 8, 24, 2, SliderKind::kFontSize},
    {kIdMaxNameLength, kIdMaxNameLengthValue, kNameLengthSliderMin, 64, 4, SliderKind::kNameLength},
};

// The check boxes that map one to one onto a flag.
struct CheckBinding {
  int id;
  bool Config::*field;
};

const CheckBinding kChecks[] = {
    {kIdPipEnabled, &Config::pip_enabled},
    {kIdAllowMultiInstance, &Config::allow_multi_instance},
    {kIdShowOnlySpeaking, &Config::show_only_speaking},
    {kIdAlwaysShowSelf, &Config::always_show_self},
};

float* OpacityField(int sliderId) {
  return sliderId == kIdInactiveOpacity ? &g_config.inactive_opacity : &g_config.username_label_opacity;
}

int32_t* FontSizeField(int sliderId) {
  return sliderId == kIdUsernameFontSize ? &g_config.username_font_size : &g_config.notification_font_size;
}

ConfigColor* ColorField(int buttonId) {
  switch (buttonId) {
    case kIdSpeakingColor: return &g_config.speaking_color;
    case kIdMutedColor: return &g_config.muted_color;
    case kIdDeafenedColor: return &g_config.deafened_color;
    case kIdBorderColor: return &g_config.border_color;
    default: return nullptr;
  }
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
  }
  SetDlgItemTextW(window, binding.labelId, label.c_str());
}

// The stored value in slider units (it may lie outside the slider's range).
int StoredSliderValue(const SliderBinding& binding) {
  switch (binding.kind) {
    case SliderKind::kOpacity: return OpacityToSlider(*OpacityField(binding.sliderId));
    case SliderKind::kFontSize: return *FontSizeField(binding.sliderId);
    case SliderKind::kNameLength: return NameLengthToSlider(g_config.max_name_length);
  }
  return 0;
}

int SliderPosition(HWND window, int sliderId) {
  return static_cast<int>(SendDlgItemMessageW(window, sliderId, TBM_GETPOS, 0, 0));
}

void StoreSliderValue(HWND window, const SliderBinding& binding) {
  int position = SliderPosition(window, binding.sliderId);
  switch (binding.kind) {
    case SliderKind::kOpacity: *OpacityField(binding.sliderId) = SliderToOpacity(position); break;
    case SliderKind::kFontSize: *FontSizeField(binding.sliderId) = position; break;
    case SliderKind::kNameLength: g_config.max_name_length = SliderToNameLength(position); break;
  }
}

void FillComboBox(HWND window, int id, const TextId* items, size_t count) {
  for (size_t i = 0; i < count; ++i)
    SendDlgItemMessageW(window, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Text(items[i])));
}

BOOL CALLBACK SetChildFont(HWND child, LPARAM font) {
  SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
  return TRUE;
}

void CreateSettingsControls(HWND window) {
  g_settingsFont = CreateFontW(16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  for (const ControlSpec& spec : kControls) {
    const wchar_t* text = spec.text == kNoText ? spec.fixedText : Text(static_cast<TextId>(spec.text));
    CreateWindowExW(0, spec.className, text, spec.style, spec.x, spec.y, spec.width, spec.height, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)), instance, nullptr);
  }
  for (const SliderBinding& binding : kSliders) {
    SendDlgItemMessageW(window, binding.sliderId, TBM_SETRANGE, TRUE, MAKELPARAM(binding.minimum, binding.maximum));
    SendDlgItemMessageW(window, binding.sliderId, TBM_SETTICFREQ, binding.tickEvery, 0);
  }
  FillComboBox(window, kIdNotificationPosition, kPositionItems, std::size(kPositionItems));
  FillComboBox(window, kIdLanguage, kLanguageItems, std::size(kLanguageItems));
  EnumChildWindows(window, SetChildFont, reinterpret_cast<LPARAM>(g_settingsFont));
}

void LoadSettingsToControls(HWND window) {
  // The label shows the stored value, which may lie outside the slider's range.
  for (const SliderBinding& binding : kSliders) {
    int value = StoredSliderValue(binding);
    SendDlgItemMessageW(window, binding.sliderId, TBM_SETPOS, TRUE, value);
    ShowSliderValue(window, binding, value);
  }
  SendDlgItemMessageW(window, kIdNotificationPosition, CB_SETCURSEL, g_config.notification_position, 0);
  SendDlgItemMessageW(window, kIdLanguage, CB_SETCURSEL, LanguageToIndex(g_config.language), 0);
  for (const CheckBinding& check : kChecks)
    CheckDlgButton(window, check.id, g_config.*check.field ? BST_CHECKED : BST_UNCHECKED);
}

void SaveSettingsFromControls(HWND window) {
  for (const SliderBinding& binding : kSliders) StoreSliderValue(window, binding);
  LRESULT position = SendDlgItemMessageW(window, kIdNotificationPosition, CB_GETCURSEL, 0, 0);
  if (position != CB_ERR) g_config.notification_position = static_cast<int32_t>(position);
  for (const CheckBinding& check : kChecks)
    g_config.*check.field = IsDlgButtonChecked(window, check.id) == BST_CHECKED;
  int language = static_cast<int>(SendDlgItemMessageW(window, kIdLanguage, CB_GETCURSEL, 0, 0));
  g_config.language = IndexToLanguage(language);
  SaveConfig(g_config, g_settingsConfigPath);
  // The overlay draws from the settings: its owner's work loop redraws it.
  PostMessageW(g_settingsOwner, WM_APP_WAKE, kWakeRedraw, 0);
}

void DrawColorSwatch(const DRAWITEMSTRUCT& item) {
  const ConfigColor* color = ColorField(static_cast<int>(item.CtlID));
  if (!color) return;
  HBRUSH brush = CreateSolidBrush(*color);
  FillRect(item.hDC, &item.rcItem, brush);
  DeleteObject(brush);
  FrameRect(item.hDC, &item.rcItem, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

void ChooseSwatchColor(HWND window, int buttonId) {
  ConfigColor* color = ColorField(buttonId);
  CHOOSECOLORW chooser = {};
  chooser.lStructSize = sizeof(chooser);
  chooser.hwndOwner = window;
  chooser.rgbResult = *color;
  chooser.lpCustColors = g_customColors;
  chooser.Flags = CC_FULLOPEN | CC_RGBINIT;
  if (!ChooseColorW(&chooser)) return;
  *color = chooser.rgbResult;
  InvalidateRect(GetDlgItem(window, buttonId), nullptr, TRUE);
}

void OnCommand(HWND window, int id) {
  if (ColorField(id)) {
    ChooseSwatchColor(window, id);
  } else if (id == kIdSave) {
    SaveSettingsFromControls(window);
    DestroyWindow(window);
  } else if (id == kIdCancel) {
    DestroyWindow(window);
  }
}

}  // namespace

HWND GetSettingsWindow() { return g_settingsWindow; }

LRESULT CALLBACK SettingsWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_HSCROLL:
      if (const SliderBinding* binding = FindSlider(window, reinterpret_cast<HWND>(lParam))) {
        // From the position: the stored opacity, truncated, could show one less.
        ShowSliderValue(window, *binding, SliderPosition(window, binding->sliderId));
        StoreSliderValue(window, *binding);
      }
      return 0;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (!ColorField(static_cast<int>(item->CtlID))) break;
      DrawColorSwatch(*item);
      return TRUE;
    }
    case WM_COMMAND:
      OnCommand(window, LOWORD(wParam));
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      g_settingsWindow = nullptr;
      return 0;
    case WM_NCDESTROY:  // the children, which used the font, are gone
      DeleteObject(g_settingsFont);
      g_settingsFont = nullptr;
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void ShowSettingsWindow(HWND owner) { ShowSettingsWindow(owner, GetConfigPath()); }

void ShowSettingsWindow(HWND owner, const std::wstring& configPath) {
  if (g_settingsWindow && IsWindow(g_settingsWindow)) {
    SetForegroundWindow(g_settingsWindow);
    return;
  }
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  g_settingsConfigPath = configPath;
  g_settingsOwner = owner;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = SettingsWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // already registered after the first opening
  g_settingsWindow = CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, Text(kTextSettingsTitle),
                                     WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 420, 725, owner,
                                     nullptr, instance, nullptr);
  if (!g_settingsWindow) return;
  CreateSettingsControls(g_settingsWindow);
  LoadSettingsToControls(g_settingsWindow);
  ShowWindow(g_settingsWindow, SW_SHOW);
  UpdateWindow(g_settingsWindow);
}
