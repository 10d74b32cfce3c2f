// ---- Settings ------------------------------------------------------------------------------

const DEFAULT_SETTINGS = {
  directMessages: true,
  mentions: true,
  // Messages of the channel on screen while Discord has focus: the user is already reading them.
  focusedChannel: false,
  // Discord itself stays silent in these cases; each can be overridden.
  whileDoNotDisturb: false,
  whileStreaming: false,
  mentionsWhenMuted: false,
  voiceFeed: true,
  // Guild ids whose every message is forwarded.
  allMessagesServers: [],
  // Not in the panel: Voxmere names its port in its endpoint file; tests point at another file or
  // a fixed port (which bypasses the file).
  endpointFile: null,
  port: null,
};

const OLD_DEFAULT_PORT = 47523;
const BOOLEAN_SETTINGS = Object.keys(DEFAULT_SETTINGS).filter((key) => typeof DEFAULT_SETTINGS[key] === "boolean");

function loadSettings() {
  let stored = null;
  try {
    stored = BdApi.Data.load(PLUGIN_NAME, "settings");
  } catch (error) {
    logInfo("stored settings unreadable; using defaults:", error && error.message);
  }
  const settings = { ...DEFAULT_SETTINGS, allMessagesServers: [] };
  if (!stored || typeof stored !== "object") return settings;
  for (const key of BOOLEAN_SETTINGS) {
    if (typeof stored[key] === "boolean") settings[key] = stored[key];
  }
  if (Array.isArray(stored.allMessagesServers)) {
    settings.allMessagesServers = stored.allMessagesServers.filter((id) => typeof id === "string");
  }
  // Versions before the endpoint file saved their default port with every setting: that is no choice.
  if (Number.isInteger(stored.port) && stored.port > 0 && stored.port < 65536 && stored.port !== OLD_DEFAULT_PORT) settings.port = stored.port;
  if (typeof stored.endpointFile === "string" && stored.endpointFile) settings.endpointFile = stored.endpointFile;
  return settings;
}

function saveSettings(settings) {
  BdApi.Data.save(PLUGIN_NAME, "settings", settings);
}

// The panel in BetterDiscord's plugin settings, drawn by BetterDiscord in Discord's own look: the link's
// state and the user's choices.
class SettingsPanel {
  constructor(plugin) {
    this.plugin = plugin;
  }

  build() {
    const switchFor = (id, name, note) => ({ type: "switch", id, name, note, value: !!this.plugin.settings[id] });
    return BdApi.UI.buildSettingsPanel({
      settings: [
        { type: "custom", id: "status", name: "Status", inline: false, children: this.statusLine() },
        { type: "category", id: "cards", name: "Cards", collapsible: false, shown: true, settings: [
          switchFor("directMessages", "Direct messages and group messages"),
          switchFor("mentions", "Mentions of you, your roles, @everyone and @here"),
          // Discord itself stays silent in these cases; each is the user's to lift.
          switchFor("focusedChannel", "Messages in the channel you are reading while Discord has focus", "Discord shows none."),
          switchFor("whileDoNotDisturb", "Also while Do Not Disturb", "Discord shows none."),
          switchFor("whileStreaming", "Also while streaming", "Discord shows none while Streamer Mode turns notifications off."),
          switchFor("mentionsWhenMuted", "Mentions even when muted", "Mentions of you or your roles in muted servers, channels and threads."),
        ] },
        switchFor("voiceFeed", "Send my voice channel to Voxmere"),
        { type: "category", id: "servers", name: "All messages from these servers (muted channels stay silent)",
          collapsible: true, shown: false, settings: this.serverSwitches() },
        { type: "button", id: "test", name: "Test notification", note: "Shows a card in Voxmere now.",
          children: "Send test notification", onClick: () => this.plugin.sendTestNotification() },
      ],
      onChange: (category, id, value) => this.changed(category, id, value),
    });
  }

  // BetterDiscord draws the panel with React; the line is written into its element directly, so that it
  // follows the link while the panel is open.
  statusLine() {
    const style = { whiteSpace: "pre-line", color: "var(--text-default, var(--text-normal, #80848e))" };
    return BdApi.React.createElement("div", { style, ref: (element) => this.attachStatus(element) });
  }

  attachStatus(element) {
    if (!element) {
      if (this.plugin.showStatus === this.showStatus) this.plugin.showStatus = null;
      return;
    }
    this.showStatus = () => {
      element.textContent = this.statusText();
    };
    this.plugin.showStatus = this.showStatus;
    this.showStatus();
  }

  // A missing dispatcher outweighs the link: nothing would reach Voxmere even when connected.
  statusText() {
    const plugin = this.plugin;
    if (plugin.discord && !plugin.discord.dispatcher) return NO_DISPATCHER;
    const link = plugin.link && plugin.link.connected ? "Connected to Voxmere." : "Voxmere is not connected (it may not be running).";
    const stores = plugin.discord ? plugin.discord.problem() : "";
    const voice = plugin.voice && plugin.settings.voiceFeed ? plugin.voice.problem() : "";
    return [link, stores, voice].filter(Boolean).join("\n");
  }

  serverSwitches() {
    const guilds = (this.plugin.discord && call(this.plugin.discord.guilds, "getGuilds")) || {};
    return Object.values(guilds).filter((g) => g && g.id).sort((a, b) => String(a.name).localeCompare(String(b.name)))
      .map((guild) => ({ type: "switch", id: guild.id, name: guild.name || guild.id,
        value: this.plugin.settings.allMessagesServers.includes(guild.id) }));
  }

  changed(category, id, value) {
    const settings = this.plugin.settings;
    if (category === "servers") {
      const others = settings.allMessagesServers.filter((guildId) => guildId !== id);
      settings.allMessagesServers = value ? [...others, id] : others;
    } else if (BOOLEAN_SETTINGS.includes(id)) {
      settings[id] = !!value;
    } else {
      return;
    }
    this.plugin.saveSettings();
    if (id === "voiceFeed" && this.plugin.voice) {
      settings.voiceFeed ? this.plugin.voice.start() : this.plugin.voice.stop();
      if (this.plugin.showStatus) this.plugin.showStatus();
    }
  }
}
