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

// The panel in BetterDiscord's plugin settings: the link's state and the user's choices.
class SettingsPanel {
  constructor(plugin) {
    this.plugin = plugin;
  }

  build() {
    const panel = document.createElement("div");
    panel.style.padding = "8px";
    // Discord renamed --text-normal to --text-default; both follow the theme, and the last resort
    // reads on dark and light alike.
    panel.style.color = "var(--text-default, var(--text-normal, #80848e))";

    const status = document.createElement("p");
    status.style.whiteSpace = "pre-line";
    this.plugin.showStatus = () => {
      status.textContent = this.statusText();
    };
    this.plugin.showStatus();
    panel.appendChild(status);

    panel.appendChild(this.checkbox("Direct messages and group messages", "directMessages"));
    panel.appendChild(this.checkbox("Mentions of you, your roles, @everyone and @here", "mentions"));
    panel.appendChild(this.checkbox("Messages in the channel you are reading while Discord has focus", "focusedChannel"));
    panel.appendChild(this.checkbox("Also while Do Not Disturb", "whileDoNotDisturb"));
    panel.appendChild(this.checkbox("Also while streaming", "whileStreaming"));
    panel.appendChild(this.checkbox("Mentions even when muted", "mentionsWhenMuted"));
    panel.appendChild(this.checkbox("Send my voice channel to Voxmere", "voiceFeed", (on) => {
      if (this.plugin.voice) on ? this.plugin.voice.start() : this.plugin.voice.stop();
      this.plugin.showStatus();
    }));
    panel.appendChild(this.serverList());

    const button = document.createElement("button");
    button.textContent = "Send test notification";
    button.addEventListener("click", () => this.plugin.sendTestNotification());
    panel.appendChild(button);
    return panel;
  }

  // A missing dispatcher outweighs the link: nothing would reach Voxmere even when connected.
  statusText() {
    if (this.plugin.discord && !this.plugin.discord.dispatcher) return NO_DISPATCHER;
    const link = this.plugin.link && this.plugin.link.connected ? "Connected to Voxmere." : "Voxmere is not connected (it may not be running).";
    const voice = this.plugin.voice && this.plugin.settings.voiceFeed ? this.plugin.voice.problem() : "";
    return voice ? `${link}\n${voice}` : link;
  }

  checkbox(label, key, then = () => {}) {
    return this.labelledCheckbox(label, this.plugin.settings[key], (checked) => {
      this.plugin.settings[key] = checked;
      this.plugin.saveSettings();
      then(checked);
    });
  }

  serverList() {
    const box = document.createElement("div");
    const title = document.createElement("h3");
    title.textContent = "All messages from these servers (muted channels stay silent)";
    box.appendChild(title);
    const guilds = (this.plugin.discord && call(this.plugin.discord.guilds, "getGuilds")) || {};
    const list = Object.values(guilds).filter((g) => g && g.id).sort((a, b) => String(a.name).localeCompare(String(b.name)));
    for (const guild of list) {
      box.appendChild(this.labelledCheckbox(guild.name || guild.id, this.plugin.settings.allMessagesServers.includes(guild.id),
        (checked) => {
          const others = this.plugin.settings.allMessagesServers.filter((id) => id !== guild.id);
          this.plugin.settings.allMessagesServers = checked ? [...others, guild.id] : others;
          this.plugin.saveSettings();
        }));
    }
    return box;
  }

  labelledCheckbox(text, checked, onChange) {
    const label = document.createElement("label");
    label.style.display = "block";
    label.style.margin = "4px 0";
    const input = document.createElement("input");
    input.type = "checkbox";
    input.checked = !!checked;
    input.addEventListener("change", () => onChange(input.checked));
    label.appendChild(input);
    label.appendChild(document.createTextNode(" " + text));
    return label;
  }
}
