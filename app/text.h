// Every text the user sees, in English and Japanese, picked by g_language.
#pragma once

enum TextId : int {
  kTextGdiplusFailed = 0,
  kTextOverlayFailed,
  kTextError,
  kTextTrayTitle,
  kTextHideOverlay,
  kTextShowOverlay,
  kTextConnected,
  kTextReconnect,
  kTextSettingsMenu,
  kTextExit,
  kTextTipConnected,
  kTextTipWaitingForDiscord,
  kTextAlreadyRunning,
  kTextAlreadyRunningCaption,
  kTextSettingsTitle,
  kTextInactiveOpacity,
  kTextSpeakingColor,
  kTextMutedColor,
  kTextDeafenedColor,
  kTextBorderColor,
  kTextNotificationPosition,
  kTextTopRight,
  kTextTopLeft,
  kTextBottomRight,
  kTextBottomLeft,
  kTextTopCenter,
  kTextBottomCenter,
  kTextAllowMultipleInstances,
  kTextSave,
  kTextCancel,
  kTextLanguage,
  kTextLanguageAuto,
  kTextLanguageEnglish,
  kTextLanguageJapanese,
  kTextLanguageRestartNote,
  kTextPluginFileNotFound,
  kTextErrorTitle,
  kTextPluginCopyFailed,
  kTextBetterDiscordMissing,
  kTextBetterDiscordMissingTitle,
  kTextPluginInstallQuestion,
  kTextPluginInstallTitle,
  kTextPluginInstalled,
  kTextPluginInstalledTitle,
  kTextUsernameLabelOpacity,
  kTextUsernameFontSize,
  kTextNotificationFontSize,
  kTextEnablePip,
  kTextOverlayTitle,
  kTextMembersMenu,
  kTextShowOnlySpeaking,
  kTextAlwaysShowSelf,
  kTextMaxNameLength,
  kTextNoNameLimit,
  kTextTipWaitingForConsent,
  kTextTipClientIdRejected,
  kTextTipNotAuthorized,
  kTextClientIdRejectedTitle,
  kTextClientIdRejectedBalloon,
  kTextShowAvatars,
  kTextBorderOpacity,
  kTextTipVoiceFromPlugin,
  kTextTwoWaysTitle,
  kTextTwoWaysBalloon,
  kTextCount
};

struct TextEntry {
  const wchar_t* english;
  const wchar_t* japanese;
};

// 0 English, 1 Japanese; chosen once at start-up, before any other thread runs.
extern int g_language;

const TextEntry& TextTable(TextId id);
const wchar_t* Text(TextId id);
