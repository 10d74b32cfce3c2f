// ---- The plugin ----------------------------------------------------------------------------

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
    this.onMessageCreate = guarded("message", (action) => this.handleMessage(action));
  }

  start() {
    if (this.link) this.stop();
    this.settings = loadSettings();
    this.discord = loadDiscordModules();
    this.rule = new NotificationRule(this.discord, () => this.settings);
    this.card = new CardText(this.discord);
    if (this.discord.dispatcher) {
      this.discord.dispatcher.subscribe("MESSAGE_CREATE", this.onMessageCreate);
    } else {
      logInfo(NO_DISPATCHER);
    }
    const refreshStatus = () => this.showStatus && this.showStatus();
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
    this.voice = null;
    this.link = null;
    this.discord = this.rule = this.card = null;
    this.showStatus = null;
  }

  handleMessage(action) {
    if (!this.link || !this.rule.shouldForward(action)) return;
    this.link.send(buildPayload(this.card.describe(action.message, this.rule.whereOf(action))));
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
