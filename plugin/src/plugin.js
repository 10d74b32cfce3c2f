// ---- The plugin ----------------------------------------------------------------------------

// Shown once by the first start of each new version.
const CHANGELOG = [
  { title: "Cards exactly when Discord would notify", type: "fixed", items: [
    "Quiet Mode, a thread's own notification level, the thread open beside a channel and voice-channel chat now count as in Discord.",
    "No card for a message whose channel or author Discord has not loaded.",
    "A Discord part Tallybell cannot find is named in the settings, and no cards go out until it is back.",
  ] },
  { title: "Named as Discord names them", type: "improved", items: [
    "Friend nicknames, unnamed groups, Streamer Mode's hidden names, embeds, attachments and game mentions as Discord shows them.",
  ] },
  { title: "BetterDiscord's own look", type: "improved", items: ["The settings panel is drawn the way BetterDiscord draws its own."] },
];

module.exports = class Tallybell {
  constructor(meta) {
    this.meta = meta;
    this.settings = loadSettings();
    this.discord = null;
    this.link = null;
    this.voice = null;
    // The open settings panel's status line, if any.
    this.showStatus = null;
    this.rule = null;
    this.card = null;
    this.toldMissingStores = false;
    this.onMessageCreate = guarded("message", (action) => this.handleMessage(action));
  }

  start() {
    if (this.link) this.stop();
    this.settings = loadSettings();
    this.showChangelogOnce();
    const refreshStatus = () => this.showStatus && this.showStatus();
    this.toldMissingStores = false;
    this.discord = new DiscordStores(RULE_NEEDS, () => {
      if (this.discord.missing.length) logWarn(this.discord.problem());
      refreshStatus();
    });
    this.discord.start();
    this.rule = new NotificationRule(this.discord, () => this.settings);
    this.card = new CardText(this.discord);
    if (this.discord.dispatcher) {
      this.discord.dispatcher.subscribe("MESSAGE_CREATE", this.onMessageCreate);
    } else {
      logInfo(NO_DISPATCHER);
    }
    this.voice = new VoiceFeed(this.discord.dispatcher, (text) => !!this.link && this.link.sendNow(text), refreshStatus);
    this.link = new VoxmereLink({ port: this.settings.port, endpointFile: this.settings.endpointFile }, (connected) => {
      if (connected) this.voice.resend();
      refreshStatus();
    });
    if (this.settings.voiceFeed) this.voice.start();
    this.link.start();
  }

  stop() {
    if (this.discord && this.discord.dispatcher) {
      this.discord.dispatcher.unsubscribe("MESSAGE_CREATE", this.onMessageCreate);
    }
    // The feed's end goes out before the socket closes.
    if (this.voice) this.voice.stop();
    if (this.link) this.link.stop();
    if (this.discord) this.discord.stop();
    this.voice = null;
    this.link = null;
    this.discord = this.rule = this.card = null;
    this.showStatus = null;
  }

  handleMessage(action) {
    if (this.rule.shouldForward(action)) {
      if (this.link) this.link.send(buildPayload(this.card.describe(action.message, this.rule.whereOf(action))));
    } else if (this.discord.missing.length) {
      this.tellMissingStores();
    }
  }

  // Once per start, when a message goes without a card for it: the console and the panel say it too.
  tellMissingStores() {
    if (this.toldMissingStores) return;
    this.toldMissingStores = true;
    BdApi.UI.showToast(this.discord.problem(), { type: "warning" });
  }

  showChangelogOnce() {
    const version = (this.meta && this.meta.version) || "";
    let shown = null;
    try {
      shown = BdApi.Data.load(PLUGIN_NAME, "version");
    } catch (error) {
      logInfo("stored version unreadable:", error && error.message);
    }
    if (!version || shown === version) return;
    BdApi.UI.showChangelogModal({ title: PLUGIN_NAME, subtitle: `Version ${version}`, changes: CHANGELOG });
    BdApi.Data.save(PLUGIN_NAME, "version", version);
  }

  saveSettings() {
    saveSettings(this.settings);
  }

  getSettingsPanel() {
    return new SettingsPanel(this).build();
  }

  // ---- Test notification ----

  sendTestNotification() {
    const me = (this.discord && call(this.discord.users, "getCurrentUser")) || { id: "0", username: PLUGIN_NAME };
    const sent = !!this.link && this.link.send(buildPayload({
      username: me.username || PLUGIN_NAME,
      displayName: PLUGIN_NAME,
      content: "Test notification: Tallybell reaches Voxmere.",
      avatarUrl: avatarUrlOf(me),
      channelName: "",
      serverName: "",
      avatarHash: me.avatar || "",
      userId: String(me.id),
    }));
    const ui = globalThis.BdApi && BdApi.UI;
    if (ui && typeof ui.showToast === "function") {
      ui.showToast(sent ? "Test notification sent to Voxmere." : "Voxmere is not running or not reachable.",
        { type: sent ? "success" : "error" });
    }
    return sent;
  }
};

// Node tests reach the payload rules directly; BetterDiscord ignores extra properties.
module.exports.buildPayload = buildPayload;
module.exports.MAX_PAYLOAD_BYTES = MAX_PAYLOAD_BYTES;
