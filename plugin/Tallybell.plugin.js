/**
 * @name Tallybell
 * @author Voxmere
 * @description Shows your Discord message notifications as cards in the Voxmere overlay, over your game.
 * @version 1.0.0
 * @source https://github.com/voxmere/voxmere/tree/main/plugin
 */

"use strict";

const PLUGIN_NAME = "Tallybell";
const DEFAULT_PORT = 47523;
// Voxmere reads one notification per 4 KiB pipe message; the WebSocket takes the same limit.
const MAX_PAYLOAD_BYTES = 4095;
// Names, ids and addresses are short on Discord; the cap only guards the content's share.
const MAX_FIELD_BYTES = 256;
const ELLIPSIS = "\u2026";
const RECONNECT_FIRST_MS = 1000;
const RECONNECT_MAX_MS = 30000;
// Notifications go to Voxmere one at a time: a short gap keeps a burst of messages from piling
// into one read, which older receivers decoded as a single frame.
const SEND_GAP_MS = 100;
const MAX_WAITING_SENDS = 10;

const CHANNEL_DM = 1;
const CHANNEL_GROUP_DM = 3;
// Ordinary messages, replies and slash-command answers; joins, pins and calls are not worth a card.
const CHAT_MESSAGE_TYPES = new Set([0, 19, 20, 23]);

const DEFAULT_SETTINGS = {
  directMessages: true,
  mentions: true,
  // Messages of the channel on screen while Discord has focus: the user is already reading them.
  focusedChannel: false,
  // Guild ids whose every message is forwarded.
  allMessagesServers: [],
  // Not in the panel: Voxmere listens on the default; tests move it.
  port: DEFAULT_PORT,
};

const encoder = new TextEncoder();
const utf8Length = (text) => encoder.encode(text).length;

function logInfo(...args) {
  console.log(`[${PLUGIN_NAME}]`, ...args);
}

// ---- Payload -------------------------------------------------------------------------------

// Voxmere's reader turns only \" \\ \n \r \t back into characters, so other control characters
// are dropped here rather than arriving as "u0007"; lone surrogates cannot be sent as UTF-8.
function cleanText(value) {
  if (typeof value !== "string") return value == null ? "" : String(value);
  return value
    .replace(/[\u0000-\u0008\u000B\u000C\u000E-\u001F\u007F]/g, "")
    .replace(/[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g, "\uFFFD");
}

// Bytes that the text takes inside a JSON string, escapes included.
function encodedLength(text) {
  return utf8Length(JSON.stringify(text)) - 2;
}

// The longest prefix (whole code points) whose JSON-encoded form fits in maxBytes, with an
// ellipsis when something was cut.
function cutToEncodedBytes(text, maxBytes) {
  if (encodedLength(text) <= maxBytes) return text;
  const budget = maxBytes - encodedLength(ELLIPSIS);
  if (budget < 0) return "";
  let used = 0;
  let end = 0;
  for (const ch of text) {
    const size = encodedLength(ch);
    if (used + size > budget) break;
    used += size;
    end += ch.length;
  }
  return text.slice(0, end) + ELLIPSIS;
}

// The receiver finds each key by a plain text search, so a value that happens to end in a quoted
// key name could shadow the real key: short fixed-alphabet fields go first, free text last.
const FIELD_ORDER = ["username", "avatarUrl", "avatarHash", "userId", "displayName", "serverName",
  "channelName", "content"];

// One notification as JSON text of at most MAX_PAYLOAD_BYTES UTF-8 bytes; only the content
// gives way when the whole would be longer.
function buildPayload(fields) {
  const record = {};
  for (const key of FIELD_ORDER) {
    const value = cleanText(fields[key]);
    record[key] = key === "content" ? "" : cutToEncodedBytes(value, MAX_FIELD_BYTES);
  }
  const room = MAX_PAYLOAD_BYTES - utf8Length(JSON.stringify(record));
  record.content = cutToEncodedBytes(cleanText(fields.content), room);
  return JSON.stringify(record);
}

// ---- Delivery ------------------------------------------------------------------------------

// One WebSocket to Voxmere, reopened with capped exponential backoff. Notifications offered while
// it is down are dropped: a card about a message from minutes ago is noise.
class VoxmereLink {
  constructor(url, onStateChange) {
    this.url = url;
    this.onStateChange = onStateChange || (() => {});
    this.socket = null;
    this.connected = false;
    this.stopped = true;
    this.retryDelay = RECONNECT_FIRST_MS;
    this.retryTimer = null;
    this.sendTimer = null;
    this.waiting = [];
    this.lastSendAt = 0;
    this.reportedDown = false;
  }

  start() {
    this.stopped = false;
    this.open();
  }

  stop() {
    this.stopped = true;
    clearTimeout(this.retryTimer);
    clearTimeout(this.sendTimer);
    this.retryTimer = this.sendTimer = null;
    this.waiting = [];
    this.dropSocket();
  }

  // True when the text was handed to an open socket (or waits for its turn on it).
  send(text) {
    if (!this.connected) return false;
    if (this.waiting.length >= MAX_WAITING_SENDS) this.waiting.shift();
    this.waiting.push(text);
    this.flush();
    return true;
  }

  open() {
    const WebSocketClass = globalThis.WebSocket;
    if (typeof WebSocketClass !== "function") {
      logInfo("no WebSocket in this environment; notifications are off");
      return;
    }
    let socket;
    try {
      socket = new WebSocketClass(this.url);
    } catch (error) {
      logInfo("cannot open", this.url, error && error.message);
      this.scheduleReconnect();
      return;
    }
    this.socket = socket;
    socket.onopen = () => {
      this.connected = true;
      this.retryDelay = RECONNECT_FIRST_MS;
      this.reportedDown = false;
      logInfo("connected to Voxmere at", this.url);
      this.onStateChange(true);
    };
    // A failed attempt fires error and then close; close alone decides what happens next.
    socket.onerror = () => {};
    socket.onclose = () => {
      const wasConnected = this.connected;
      this.socket = null;
      this.connected = false;
      this.waiting = [];
      if (wasConnected) this.onStateChange(false);
      if (!this.reportedDown) {
        logInfo("Voxmere is not reachable; retrying in the background");
        this.reportedDown = true;
      }
      this.scheduleReconnect();
    };
    socket.onmessage = () => {};
  }

  scheduleReconnect() {
    if (this.stopped || this.retryTimer) return;
    const delay = this.retryDelay;
    this.retryDelay = Math.min(this.retryDelay * 2, RECONNECT_MAX_MS);
    this.retryTimer = setTimeout(() => {
      this.retryTimer = null;
      if (!this.stopped) this.open();
    }, delay);
  }

  flush() {
    if (this.sendTimer || !this.waiting.length || !this.socket) return;
    const wait = this.lastSendAt + SEND_GAP_MS - Date.now();
    if (wait > 0) {
      this.sendTimer = setTimeout(() => {
        this.sendTimer = null;
        this.flush();
      }, wait);
      return;
    }
    try {
      this.socket.send(this.waiting.shift());
      this.lastSendAt = Date.now();
    } catch (error) {
      logInfo("send failed:", error && error.message);
    }
    this.flush();
  }

  dropSocket() {
    const socket = this.socket;
    this.socket = null;
    this.connected = false;
    if (!socket) return;
    const ignore = () => {};
    socket.onopen = socket.onmessage = ignore;
    socket.onclose = socket.onerror = ignore;
    try {
      socket.close();
    } catch (error) {
      logInfo("close failed:", error && error.message);
    }
  }
}

// ---- Discord side --------------------------------------------------------------------------

function findModuleByKeys(...keys) {
  const webpack = BdApi.Webpack;
  if (typeof webpack.getByKeys === "function") {
    const found = webpack.getByKeys(...keys);
    if (found) return found;
  }
  if (typeof webpack.getModule === "function") {
    const hasKeys = (m) => {
      try {
        return m != null && keys.every((k) => m[k] !== undefined);
      } catch (error) {
        return false; // some exports are proxies that throw on unknown keys
      }
    };
    return webpack.getModule(hasKeys, { searchExports: true }) || null;
  }
  return null;
}

function findStore(name, ...fallbackKeys) {
  const webpack = BdApi.Webpack;
  const store = typeof webpack.getStore === "function" ? webpack.getStore(name) : null;
  return store || findModuleByKeys(...fallbackKeys);
}

function loadDiscordModules() {
  return {
    dispatcher: findModuleByKeys("subscribe", "unsubscribe", "dispatch"),
    users: findStore("UserStore", "getCurrentUser", "getUser"),
    channels: findStore("ChannelStore", "getChannel", "getDMFromUserId"),
    guilds: findStore("GuildStore", "getGuild", "getGuilds"),
    members: findStore("GuildMemberStore", "getMember", "getNick"),
    selectedChannel: findStore("SelectedChannelStore", "getChannelId", "getVoiceChannelId"),
    guildSettings: findStore("UserGuildSettingsStore", "isMuted", "isChannelMuted"),
    relationships: findStore("RelationshipStore", "isBlocked", "getFriendIDs"),
  };
}

function call(store, method, ...args) {
  return store && typeof store[method] === "function" ? store[method](...args) : undefined;
}

function discordWindowHasFocus() {
  const doc = globalThis.document;
  return !!(doc && typeof doc.hasFocus === "function" && doc.hasFocus());
}

function avatarUrlOf(author) {
  if (author.avatar) return `https://cdn.discordapp.com/avatars/${author.id}/${author.avatar}.png`;
  let index = 0;
  try {
    index = author.discriminator && author.discriminator !== "0"
      ? Number(author.discriminator) % 5
      : Number((BigInt(author.id) >> 22n) % 6n);
  } catch (error) {
    index = 0;
  }
  return `https://cdn.discordapp.com/embed/avatars/${index}.png`;
}

module.exports = class Tallybell {
  constructor(meta) {
    this.meta = meta;
    this.settings = this.loadSettings();
    this.discord = null;
    this.link = null;
    // The open settings panel's status line, if any.
    this.showStatus = null;
    this.onMessageCreate = (action) => {
      try {
        this.handleMessage(action);
      } catch (error) {
        logInfo("message skipped:", error && error.message);
      }
    };
  }

  start() {
    if (this.link) this.stop();
    this.settings = this.loadSettings();
    this.discord = loadDiscordModules();
    if (this.discord.dispatcher) {
      this.discord.dispatcher.subscribe("MESSAGE_CREATE", this.onMessageCreate);
    } else {
      logInfo("Discord's dispatcher was not found; messages cannot be forwarded");
    }
    this.link = new VoxmereLink(`ws://127.0.0.1:${this.settings.port}`,
      (up) => this.showStatus && this.showStatus(up));
    this.link.start();
  }

  stop() {
    if (this.discord && this.discord.dispatcher) {
      this.discord.dispatcher.unsubscribe("MESSAGE_CREATE", this.onMessageCreate);
    }
    if (this.link) this.link.stop();
    this.link = null;
    this.discord = null;
    this.showStatus = null;
  }

  // ---- Settings ----

  loadSettings() {
    let stored = null;
    try {
      stored = BdApi.Data.load(PLUGIN_NAME, "settings");
    } catch (error) {
      logInfo("stored settings unreadable; using defaults:", error && error.message);
    }
    const settings = { ...DEFAULT_SETTINGS, allMessagesServers: [] };
    if (!stored || typeof stored !== "object") return settings;
    for (const key of ["directMessages", "mentions", "focusedChannel"]) {
      if (typeof stored[key] === "boolean") settings[key] = stored[key];
    }
    if (Array.isArray(stored.allMessagesServers)) {
      settings.allMessagesServers = stored.allMessagesServers.filter((id) => typeof id === "string");
    }
    if (Number.isInteger(stored.port) && stored.port > 0 && stored.port < 65536) settings.port = stored.port;
    return settings;
  }

  saveSettings() {
    BdApi.Data.save(PLUGIN_NAME, "settings", this.settings);
  }

  // ---- Which messages ----

  handleMessage(action) {
    if (!this.link || !this.shouldForward(action)) return;
    this.link.send(buildPayload(this.describe(action.message, this.whereOf(action))));
  }

  // The message's channel and server; a direct message has no guildId.
  whereOf(action) {
    const channelId = action.channelId || action.message.channel_id;
    const channel = call(this.discord.channels, "getChannel", channelId);
    const guildId = action.guildId || action.message.guild_id || (channel && channel.guild_id) || null;
    return { channelId, channel, guildId };
  }

  shouldForward(action) {
    const message = action && action.message;
    const author = message && message.author;
    if (!author || !author.id || action.optimistic) return false;
    if (message.type !== undefined && !CHAT_MESSAGE_TYPES.has(message.type)) return false;
    const d = this.discord;
    const me = call(d.users, "getCurrentUser");
    if (!me || author.id === me.id) return false;
    if (call(d.relationships, "isBlocked", author.id)) return false;

    const { channelId, channel, guildId } = this.whereOf(action);
    const reading = call(d.selectedChannel, "getChannelId") === channelId && discordWindowHasFocus();
    if (reading && !this.settings.focusedChannel) return false;

    const isDirect = !guildId || (channel && (channel.type === CHANNEL_DM || channel.type === CHANNEL_GROUP_DM));
    if (isDirect) {
      return this.settings.directMessages && !call(d.guildSettings, "isChannelMuted", null, channelId);
    }
    const mention = this.mentionOf(message, guildId, me.id);
    if (this.isMuted(guildId, channel, channelId)) {
      // As in Discord itself: muting silences everything but mentions of you by name or role.
      return this.settings.mentions && mention === "personal";
    }
    if (this.settings.mentions && mention) return true;
    return this.settings.allMessagesServers.includes(guildId);
  }

  isMuted(guildId, channel, channelId) {
    const settings = this.discord.guildSettings;
    if (call(settings, "isMuted", guildId)) return true;
    if (call(settings, "isChannelMuted", guildId, channelId)) return true;
    // A muted category mutes its channels; a thread belongs to its parent channel.
    const parentId = channel && channel.parent_id;
    return !!(parentId && call(settings, "isChannelMuted", guildId, parentId));
  }

  // "personal" (you by name or one of your roles), "everyone" (@everyone / @here), or "".
  mentionOf(message, guildId, myId) {
    const d = this.discord;
    if ((message.mentions || []).some((user) => user && (user.id || user) === myId)) return "personal";
    const member = call(d.members, "getMember", guildId, myId);
    const myRoles = (member && member.roles) || [];
    if ((message.mention_roles || []).some((role) => myRoles.includes(role)) &&
        !call(d.guildSettings, "isSuppressRolesEnabled", guildId)) {
      return "personal";
    }
    if (message.mention_everyone && !call(d.guildSettings, "isSuppressEveryoneEnabled", guildId)) {
      return "everyone";
    }
    return "";
  }

  // ---- What the card shows ----

  describe(message, { channel, guildId }) {
    const author = message.author;
    const guild = guildId ? call(this.discord.guilds, "getGuild", guildId) : null;
    return {
      username: author.username || "",
      displayName: this.nameOf(author, guildId, message.member),
      content: this.readableContent(message, guildId),
      avatarUrl: avatarUrlOf(author),
      // Direct messages have no channel line on the card.
      channelName: guildId && channel && channel.name ? channel.name : "",
      serverName: (guild && guild.name) || "",
      avatarHash: author.avatar || "",
      userId: String(author.id),
    };
  }

  nameOf(user, guildId, member) {
    const nick = (member && member.nick) || (guildId ? call(this.discord.members, "getNick", guildId, user.id) : "");
    return nick || user.global_name || user.username || "";
  }

  // Discord's markup for mentions, channels, emoji and times, as the chat shows them.
  readableContent(message, guildId) {
    const d = this.discord;
    const mentioned = new Map((message.mentions || []).filter((u) => u && u.id).map((u) => [u.id, u]));
    let text = (message.content || "")
      .replace(/<@!?(\d+)>/g, (whole, id) => {
        const user = mentioned.get(id) || call(d.users, "getUser", id);
        return user ? "@" + this.nameOf(user, guildId) : whole;
      })
      .replace(/<@&(\d+)>/g, (whole, id) => "@" + (this.roleName(guildId, id) || "role"))
      .replace(/<#(\d+)>/g, (whole, id) => {
        const channel = call(d.channels, "getChannel", id);
        return "#" + ((channel && channel.name) || "channel");
      })
      .replace(/<a?(:\w+:)\d+>/g, "$1")
      // A card over a game must not give away what the sender hid.
      .replace(/\|\|[\s\S]+?\|\|/g, "[spoiler]")
      .replace(/<t:(-?\d+)(?::[tTdDfFR])?>/g, (whole, seconds) => new Date(Number(seconds) * 1000).toLocaleString());
    if (!text) text = (message.attachments || []).map((a) => a && a.filename).filter(Boolean).join(", ");
    if (!text) text = (message.sticker_items || message.stickers || []).map((s) => s && s.name).filter(Boolean).join(", ");
    if (!text) {
      const embed = (message.embeds || []).find((e) => e && (e.title || e.description));
      text = embed ? embed.title || embed.description : "";
    }
    return text;
  }

  roleName(guildId, roleId) {
    const guilds = this.discord.guilds;
    const roles = call(guilds, "getRoles", guildId) || ((call(guilds, "getGuild", guildId) || {}).roles);
    const role = roles && roles[roleId];
    return role && role.name;
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

  // ---- Settings panel ----

  getSettingsPanel() {
    const panel = document.createElement("div");
    panel.style.padding = "8px";
    panel.style.color = "var(--text-normal, #dcddde)";

    const status = document.createElement("p");
    this.showStatus = (up) => {
      status.textContent = up ? "Connected to Voxmere." : "Voxmere is not connected (it may not be running).";
    };
    this.showStatus(!!(this.link && this.link.connected));
    panel.appendChild(status);

    panel.appendChild(this.checkbox("Direct messages and group messages", "directMessages"));
    panel.appendChild(this.checkbox("Mentions of you, your roles, @everyone and @here", "mentions"));
    panel.appendChild(this.checkbox("Messages in the channel you are reading while Discord has focus", "focusedChannel"));
    panel.appendChild(this.serverList());

    const button = document.createElement("button");
    button.textContent = "Send test notification";
    button.addEventListener("click", () => this.sendTestNotification());
    panel.appendChild(button);
    return panel;
  }

  checkbox(label, key) {
    return this.labelledCheckbox(label, this.settings[key], (checked) => {
      this.settings[key] = checked;
      this.saveSettings();
    });
  }

  serverList() {
    const box = document.createElement("div");
    const title = document.createElement("h3");
    title.textContent = "All messages from these servers (muted channels stay silent)";
    box.appendChild(title);
    const guilds = (this.discord && call(this.discord.guilds, "getGuilds")) || {};
    const list = Object.values(guilds).filter((g) => g && g.id).sort((a, b) => String(a.name).localeCompare(String(b.name)));
    for (const guild of list) {
      box.appendChild(this.labelledCheckbox(guild.name || guild.id, this.settings.allMessagesServers.includes(guild.id),
        (checked) => {
          const others = this.settings.allMessagesServers.filter((id) => id !== guild.id);
          this.settings.allMessagesServers = checked ? [...others, guild.id] : others;
          this.saveSettings();
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
};

// Node tests reach the payload rules directly; BetterDiscord ignores extra properties.
module.exports.buildPayload = buildPayload;
module.exports.MAX_PAYLOAD_BYTES = MAX_PAYLOAD_BYTES;
