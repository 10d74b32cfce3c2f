#include "app/text.h"

int g_language = 0;

namespace {

const TextEntry kTexts[kTextCount] = {
    {L"Failed to initialize GDI+", L"GDI+の初期化に失敗しました"},
    {L"Failed to create overlay window", L"オーバーレイウィンドウの作成に失敗しました"},
    {L"Error", L"エラー"},
    {L"Voxmere", L"Voxmere"},
    {L"Hide Overlay", L"オーバーレイを隠す"},
    {L"Show Overlay", L"オーバーレイを表示"},
    {L"Connected", L"接続済み"},
    {L"Reconnect", L"再接続"},
    {L"Settings...", L"設定..."},
    {L"Exit", L"終了"},
    {L"Voxmere - Voice from Discord RPC", L"Voxmere - Discord RPC から音声を受信中"},
    {L"Voxmere - Waiting for Discord", L"Voxmere - Discord を待っています"},
    {L"Voxmere is already running.\nMultiple instances are disabled.",
     L"Voxmereは既に実行中です。\n多重起動が無効になっています。"},
    {L"Voxmere", L"Voxmere"},
    {L"Voxmere Settings", L"Voxmere 設定"},
    {L"Inactive Opacity:", L"非発言時の透明度:"},
    {L"Speaking Color:", L"発言エフェクト色:"},
    {L"Muted Color:", L"マイクミュート色:"},
    {L"Deafened Color:", L"スピーカーミュート色:"},
    {L"Border Color:", L"通常枠色:"},
    {L"Notification Position:", L"通知表示位置:"},
    {L"Top-Right", L"右上"},
    {L"Top-Left", L"左上"},
    {L"Bottom-Right", L"右下"},
    {L"Bottom-Left", L"左下"},
    {L"Top-Center", L"上中央"},
    {L"Bottom-Center", L"下中央"},
    {L"Allow Multiple Instances", L"多重起動を許可"},
    {L"Save", L"保存"},
    {L"Cancel", L"キャンセル"},
    {L"Language:", L"言語:"},
    {L"Auto (System)", L"自動 (システム)"},
    {L"English", L"English"},
    {L"日本語", L"日本語"},
    {L"Language change takes effect after restart.", L"言語の変更は再起動後に反映されます。"},
    {L"Plugin file not found:\n%s\n\nPlease place Tallybell.plugin.js in the same folder as Voxmere.exe.",
     L"プラグインファイルが見つかりません:\n%s\n\nVoxmere.exeと同じフォルダに Tallybell.plugin.js を配置してください。"},
    {L"Voxmere - Error", L"Voxmere - エラー"},
    {L"Failed to copy the plugin.\nPlease check write permissions to the BetterDiscord plugins folder.",
     L"プラグインのコピーに失敗しました。\nBetterDiscordのpluginsフォルダへの書き込み権限を確認してください。"},
    {L"BetterDiscord is not installed.\n\nTo use overlay notifications with Voxmere, BetterDiscord is "
     L"required.\n\nPlease install BetterDiscord and restart Voxmere.\nhttps://betterdiscord.app/",
     L"BetterDiscordがインストールされていません。\n\nVoxmereとの連携通知を使用するには、BetterDiscordが必要です。"
     L"\n\nBetterDiscordをインストール後、Voxmereを再起動してください。\nhttps://betterdiscord.app/"},
    {L"Voxmere - BetterDiscord Not Found", L"Voxmere - BetterDiscord未検出"},
    {L"BetterDiscord was detected, but the integration plugin (Tallybell) is not installed.\n\nThis plugin "
     L"is required to display message notifications on top of other windows.\n\nWould you like to install "
     L"the plugin?",
     L"BetterDiscordが検出されましたが、連携プラグイン（Tallybell）がインストールされていません。\n\nVoxmereと連携して"
     L"メッセージ通知を最上面に表示するには、このプラグインが必要です。\n\nプラグインをインストールしますか？"},
    {L"Voxmere - Plugin Installation", L"Voxmere - プラグインのインストール"},
    {L"Plugin installed successfully!\n\nPlease restart Discord or enable the Tallybell plugin in "
     L"BetterDiscord settings.",
     L"プラグインをインストールしました！\n\nDiscordを再起動するか、BetterDiscordの設定でTallybellプラグインを有効にしてください。"},
    {L"Voxmere - Installation Complete", L"Voxmere - インストール完了"},
    {L"Username Label Opacity:", L"ユーザー名ラベル透明度:"},
    {L"Username Font Size:", L"ユーザー名フォント:"},
    {L"Notification Font Size:", L"通知フォント:"},
    {L"Enable PiP (Picture-in-Picture)", L"PiPを有効にする"},
    {L"Voxmere", L"Voxmere"},
    {L"Members", L"メンバー"},
    {L"Show Only Speaking Members", L"発言中のメンバーのみ表示"},
    {L"Always Show Myself", L"自分を常に表示"},
    {L"Name Length Limit:", L"名前の最大文字数:"},
    {L"None", L"なし"},
    {L"Voxmere - Waiting for your consent in Discord", L"Voxmere - Discord での承認を待っています"},
    {L"Voxmere - Discord rejected the client id", L"Voxmere - Discord がクライアント ID を拒否しました"},
    {L"Voxmere - Not authorized (see debug.log)", L"Voxmere - 認証されていません (debug.log を参照)"},
    {L"Discord rejected the client id", L"Discord がクライアント ID を拒否しました"},
    {L"Put your Discord application's Client ID into config.json beside Voxmere.exe as client_id "
     L"(and its Client Secret as client_secret), then restart Voxmere.",
     L"Voxmere.exe と同じフォルダーにある config.json の client_id に Discord アプリケーションのクライアント ID を"
     L"(client_secret にクライアントシークレットを)設定して、Voxmere を再起動してください。"},
    {L"Show Avatars", L"アバターを表示"},
    {L"Border Opacity:", L"枠線の不透明度:"},
    {L"The overlay cannot show over a fullscreen game", L"全画面のゲームの上にはオーバーレイを表示できません"},
    {L"%s runs in exclusive fullscreen, where Windows shows no other window above it. Choose its borderless "
     L"(windowed fullscreen) mode to see Voxmere over it.",
     L"%s は排他的フルスクリーンで動作しているため、Windows はその上にほかのウィンドウを表示しません。"
     L"Voxmere を表示するには、ボーダーレス (ウィンドウ化フルスクリーン) モードを選んでください。"},
    {L"Avatar Size:", L"アバターの大きさ:"},
    {L"Member Layout:", L"メンバーの並び:"},
    {L"Vertical", L"縦"},
    {L"Horizontal", L"横"},
    {L"Monitor:", L"モニター:"},
    {L"primary", L"メイン"},
    {L"Show/Hide Hotkey:", L"表示/非表示のホットキー:"},
    {L"Held by another program", L"ほかのプログラムが使用中です"},
    {L"Voxmere - Voice from the Tallybell plugin", L"Voxmere - Tallybell プラグインから音声を受信中"},
    {L"No source for the voice overlay", L"ボイスオーバーレイの取得元がありません"},
    {L"Two ways to show your voice channel: turn on the Tallybell plugin in BetterDiscord (nothing to "
     L"register), or put your own Discord application's client_id and client_secret in config.json.",
     L"ボイスチャンネルを表示する方法は 2 つです: BetterDiscord で Tallybell プラグインを有効にする(登録は不要)か、"
     L"自分の Discord アプリケーションの client_id と client_secret を config.json に設定してください。"},
    // The first %s is the version beside Voxmere.exe, the second the installed one.
    {L"This Voxmere comes with a newer version of the integration plugin (Tallybell): %s. The version "
     L"installed in BetterDiscord is %s.\n\nWould you like to update the plugin?",
     L"このVoxmereには新しいバージョンの連携プラグイン（Tallybell）%s が付属しています。BetterDiscordに"
     L"インストールされているバージョンは %s です。\n\nプラグインを更新しますか？"},
    {L"Voxmere - Plugin Update", L"Voxmere - プラグインの更新"},
    {L"Plugin updated successfully!\n\nIf Discord is open, restart it or turn the Tallybell plugin off and on "
     L"in BetterDiscord settings to load the new version.",
     L"プラグインを更新しました！\n\nDiscordを起動中の場合は、Discordを再起動するか、BetterDiscordの設定で"
     L"Tallybellプラグインを一度無効にしてから有効にすると、新しいバージョンが読み込まれます。"},
    {L"Voxmere - Update Complete", L"Voxmere - 更新完了"},
    {L"Voxmere - Discord answered invalid_scope: use the Tallybell plugin",
     L"Voxmere - Discord が invalid_scope を返しました: Tallybell プラグインを使ってください"},
    {L"Discord answered invalid_scope", L"Discord が invalid_scope を返しました"},
    {L"This Discord application is not approved for rpc.voice.read, so Discord does not share your voice "
     L"channel with it. Turn on the Tallybell plugin in BetterDiscord instead: it needs no application.",
     L"この Discord アプリケーションは rpc.voice.read を承認されていないため、Discord はボイスチャンネルを"
     L"共有しません。代わりに BetterDiscord で Tallybell プラグインを有効にしてください(アプリケーションは不要です)。"},
    {L"Could not save the settings (is the disk full?). config.json was kept as it was; see debug.log.",
     L"設定を保存できませんでした (ディスクがいっぱいではありませんか?)。config.json は元のままです。debug.log を参照してください。"},
    {L"Start with Windows", L"Windows の起動時に開始"},
    {L"Copy browser source URL", L"ブラウザーソースの URL をコピー"},
    {L"Browser source for OBS (this computer only)", L"OBS 用ブラウザーソース (このコンピューターのみ)"},
    {L"Off", L"オフ"},
    {L"Show LIVE and camera marks", L"配信中とカメラのマークを表示"},
};

}  // namespace

const TextEntry& TextTable(TextId id) { return kTexts[id]; }

const wchar_t* Text(TextId id) {
  const TextEntry& entry = kTexts[id];
  return g_language == 1 ? entry.japanese : entry.english;
}
