/**
 * @name Tallybell
 * @author Voxmere
 * @description Shows your Discord message notifications as cards in the Voxmere overlay, over your game, and feeds it your voice channel.
 * @version 1.1.0
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
// Tries stay cheap on the loopback; the cap finds a restarted Voxmere again within 5 s.
const RECONNECT_MAX_MS = 4000;
// Notifications go to Voxmere one at a time: a short gap keeps a burst of messages from piling
// into one read, which older receivers decoded as a single frame.
const SEND_GAP_MS = 100;
const MAX_WAITING_SENDS = 10;

const CHANNEL_DM = 1;
const CHANNEL_GROUP_DM = 3;
// Text chat inside voice and stage channels.
const VOICE_CHANNEL_TYPES = new Set([2, 13]);
const THREAD_TYPES = new Set([10, 11, 12]);
const FLAG_EPHEMERAL = 64;
const FLAG_SILENT = 4096;
const FLAG_VOICE_MESSAGE = 8192;
// Discord's user flag for an account it flags as a spammer.
const FLAG_SPAMMER = 1 << 20;
const REFERENCE_FORWARD = 1;
// Ordinary messages, replies and slash-command answers; joins, pins and calls are not worth a card.
const CHAT_MESSAGE_TYPES = new Set([0, 19, 20, 23]);

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
  // Not in the panel: Voxmere listens on the default; tests move it.
  port: DEFAULT_PORT,
};

const BOOLEAN_SETTINGS = Object.keys(DEFAULT_SETTINGS).filter((key) => typeof DEFAULT_SETTINGS[key] === "boolean");

const NEEDS_UPDATE = "Tallybell needs an update for this Discord version.";
const NO_DISPATCHER = "Discord's message events were not found, so no notifications can be forwarded; " + NEEDS_UPDATE;

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

  // Voice updates go out at once and none is dropped: the gap between notifications served receivers
  // older than the voice feed, and a speaking ring that lags is worse than none.
  sendNow(text) {
    if (!this.connected || !this.socket) return false;
    try {
      this.socket.send(text);
      return true;
    } catch (error) {
      logInfo("send failed:", error && error.message);
      return false;
    }
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

// The dispatcher does not catch a subscriber's exception: it skips the other subscribers and, for
// gateway actions, makes Discord reconnect. Every callback it gets goes through here.
function guarded(what, handle) {
  return (action) => {
    try {
      handle(action);
    } catch (error) {
      logInfo(`${what} skipped:`, error && error.message);
    }
  };
}

// ---- Voice feed ----------------------------------------------------------------------------

const MAX_VOICE_MESSAGE_BYTES = 4000;
const MAX_NAME_BYTES = 128;
const CHANNEL_STAGE = 13;
const FEED_END = JSON.stringify({ kind: "voice", live: false });
// Each of these can change who is in the user's voice channel or how they show; the list is read
// again from the stores after every one of them.
const VOICE_ACTIONS = ["VOICE_CHANNEL_SELECT", "VOICE_STATE_UPDATES", "PASSIVE_UPDATE_V2", "RTC_CONNECTION_STATE",
  "CALL_CREATE", "CALL_DELETE", "SPEAKING"];
// Store, and the method without which the voice channel cannot be read.
const VOICE_NEEDS = [["VoiceStateStore", "getVoiceStatesForChannel"], ["SelectedChannelStore", "getVoiceChannelId"],
  ["UserStore", "getUser"], ["ChannelStore", "getChannel"], ["SpeakingStore", "isSpeaking"]];
const VOICE_HELPERS = ["GuildMemberStore", "RelationshipStore", "RTCConnectionStore", "AuthenticationStore"];
// A store missing at start may still be loading; it is looked for again for about a minute.
const STORE_RETRY_MS = 2000;
const STORE_RETRIES = 30;

// The voice states of a channel as copies: VoiceStateStore hands out its live object, keyed by
// user id, which changes under a holder's feet; some Discord versions give an array of wrappers.
function voiceStatesOf(value) {
  const entries = Array.isArray(value) ? value.map((entry) => (entry && entry.voiceState) || entry) : Object.values(value || {});
  return entries.filter((state) => state && state.userId).map((state) => ({ ...state }));
}

const cleanName = (text) => cutToEncodedBytes(cleanText(text), MAX_NAME_BYTES);

// One list as the messages that carry it, each at most MAX_VOICE_MESSAGE_BYTES, members in order.
function voiceListMessages(seq, list) {
  const head = { kind: "voice", seq, part: 0, parts: 1, channel: list.channel, self_id: list.self_id };
  // Room left for members when the part numbers take as many digits as they ever can for this list.
  const most = Math.max(1, list.members.length);
  const room = MAX_VOICE_MESSAGE_BYTES - utf8Length(JSON.stringify({ ...head, part: most, parts: most, members: [] }));
  const chunks = [[]];
  let used = 0;
  for (const member of list.members) {
    const size = utf8Length(JSON.stringify(member)) + 1;
    if (used + size > room && chunks.at(-1).length) {
      chunks.push([]);
      used = 0;
    }
    chunks.at(-1).push(member);
    used += size;
  }
  return chunks.map((members, part) => JSON.stringify({ ...head, part, parts: chunks.length, members }));
}

// Speaking flags change many times a second and travel as messages of their own, so they do not
// make a list differ.
const listKey = (list) => JSON.stringify({ ...list, members: list.members.map(({ speaking, ...rest }) => rest) });

// Reads the user's voice channel from Discord's stores after each voice action (rebuilding rather than
// applying the action: no action is replayed for a late subscriber, and Discord wipes and refills the
// states at start-up) and sends the list to Voxmere when it differs from the last one sent.
class VoiceFeed {
  constructor(dispatcher, send, onNeedsChange) {
    this.dispatcher = dispatcher;
    this.send = send;
    this.onNeedsChange = onNeedsChange || (() => {});
    this.stores = {};
    this.missing = [];
    this.running = false;
    this.seq = 0;
    this.sentKey = null;
    // The voice channel the user picked while this feed ran: no stale restored selection.
    this.pickedHere = null;
    // Speaking flags as Voxmere last heard them, for the members of the list it has.
    this.told = new Map();
    this.retryTimer = null;
    this.retriesLeft = 0;
    this.onAction = guarded("voice update", (action) => this.handle(action));
  }

  start() {
    if (this.running || !this.dispatcher) return;
    this.running = true;
    this.retriesLeft = STORE_RETRIES;
    for (const type of VOICE_ACTIONS) this.dispatcher.subscribe(type, this.onAction);
    this.onAction({ type: "START" });
  }

  // Tells Voxmere the feed ends; it then falls back to what else it has.
  stop() {
    if (!this.running) return;
    this.running = false;
    for (const type of VOICE_ACTIONS) this.dispatcher.unsubscribe(type, this.onAction);
    clearTimeout(this.retryTimer);
    this.retryTimer = null;
    this.send(FEED_END);
    this.sentKey = null;
  }

  // A Voxmere that has just (re)connected knows nothing of the channel yet.
  resend() {
    this.sentKey = null;
    this.onAction({ type: "RESEND" });
  }

  handle(action) {
    if (!this.running) return;
    // Go Live streams and their sound have connections and speaking states of their own.
    if (action.type === "RTC_CONNECTION_STATE" && action.streamKey) return;
    if (action.type === "SPEAKING" && (action.context || "default") !== "default") return;
    if (action.type === "VOICE_CHANNEL_SELECT") this.pickedHere = action.channelId || null;
    const list = this.read(["START", "RETRY", "RESEND"].includes(action.type));
    if (list && listKey(list) !== this.sentKey) this.sendList(list);
    if (action.type === "SPEAKING") this.speakingChanged(action);
  }

  // A store that is still missing is looked for on every action while the feed cannot work without
  // it, and otherwise only now and then: SPEAKING comes many times a second.
  findStores(everyStore) {
    const webpack = globalThis.BdApi && BdApi.Webpack;
    const names = VOICE_NEEDS.map(([store]) => store);
    for (const name of everyStore ? [...names, ...VOICE_HELPERS] : names) {
      if (!this.stores[name] && webpack && typeof webpack.getStore === "function") this.stores[name] = webpack.getStore(name) || null;
    }
    const missing = VOICE_NEEDS.filter(([store, method]) => !this.stores[store] || typeof this.stores[store][method] !== "function")
      .map(([store, method]) => `${store}.${method}`);
    if (missing.join() !== this.missing.join()) {
      this.missing = missing;
      if (missing.length) logInfo(this.problem());
      this.onNeedsChange();
    }
    return !missing.length;
  }

  // What keeps the feed from working, for the console and the settings panel; "" when nothing does.
  problem() {
    if (!this.dispatcher) return "Voice channel: " + NO_DISPATCHER;
    return this.missing.length ? `Voice channel: Discord's ${this.missing.join(", ")} ${this.missing.length > 1 ? "were" : "was"} not ` +
      `found, so Voxmere gets no voice channel from Tallybell; ${NEEDS_UPDATE}` : "";
  }

  // The list as it stands, or null while a store it needs is missing (then looked for again later).
  read(everyStore) {
    const complete = this.findStores(everyStore);
    const list = complete ? this.readChannel() : null;
    const waitingForNames = !!list && list.members.some((member) => !member.name);
    if (!complete || waitingForNames) this.retryLater();
    return list;
  }

  retryLater() {
    if (this.retryTimer || this.retriesLeft <= 0) return;
    this.retriesLeft -= 1;
    this.retryTimer = setTimeout(() => {
      this.retryTimer = null;
      this.onAction({ type: "RETRY" });
    }, STORE_RETRY_MS);
  }

  readChannel() {
    const s = this.stores;
    const me = call(s.UserStore, "getCurrentUser") || null;
    const channelId = me && this.connectedChannelId(me.id);
    const channel = channelId ? call(s.ChannelStore, "getChannel", channelId) : null;
    const selfId = me ? String(me.id) : null;
    if (!channel) return { channel: null, self_id: selfId, members: [] };
    const guildId = channel.guild_id || null;
    return {
      channel: { id: String(channel.id), guild_id: guildId, type: channel.type, name: cleanName(channel.name || "") },
      self_id: selfId,
      members: this.statesOf(channelId).map((state) => this.memberOf(state, channel, guildId)),
    };
  }

  statesOf(channelId) {
    return voiceStatesOf(call(this.stores.VoiceStateStore, "getVoiceStatesForChannel", channelId));
  }

  // The selected voice channel is restored from local storage at start-up, so it can name a channel
  // this client is not (yet) connected to: it counts once the user picked it, or the voice connection
  // or the user's own voice state of this session is there.
  connectedChannelId(myId) {
    const s = this.stores;
    const id = call(s.SelectedChannelStore, "getVoiceChannelId");
    if (!id) return null;
    if (id === this.pickedHere || call(s.RTCConnectionStore, "getChannelId") === id) return id;
    const mine = this.statesOf(id).find((state) => state.userId === myId);
    const session = call(s.AuthenticationStore, "getSessionId");
    return mine && (!session || !mine.sessionId || mine.sessionId === session) ? id : null;
  }

  memberOf(state, channel, guildId) {
    const s = this.stores;
    const id = String(state.userId);
    const user = call(s.UserStore, "getUser", id) || null;
    // In a server its nickname; in a call the friend nickname the user gave.
    const nick = guildId ? call(s.GuildMemberStore, "getNick", guildId, id) : call(s.RelationshipStore, "getNickname", id);
    const member = guildId ? call(s.GuildMemberStore, "getMember", guildId, id) : null;
    const guildAvatar = guildId ? ((user && user.guildMemberAvatars) || {})[guildId] || (member && member.avatar) : null;
    return {
      id,
      name: cleanName(nick || (user && (user.globalName || user.global_name || user.username)) || ""),
      avatar: (user && user.avatar) || null,
      guild_avatar: guildAvatar || null,
      bot: !!(user && user.bot),
      mute: !!(state.mute || state.selfMute || (channel.type === CHANNEL_STAGE && state.suppress)),
      deaf: !!(state.deaf || state.selfDeaf),
      speaking: !!call(s.SpeakingStore, "isSpeaking", id, "default"),
    };
  }

  sendList(list) {
    this.seq += 1;
    const messages = voiceListMessages(this.seq, list);
    if (!messages.every((text) => this.send(text))) return;
    this.sentKey = listKey(list);
    this.told = new Map(list.members.map((member) => [member.id, member.speaking]));
  }

  speakingChanged(action) {
    const id = String(action.userId);
    if (!this.told.has(id)) return;
    const speaking = !!call(this.stores.SpeakingStore, "isSpeaking", id, "default");
    if (this.told.get(id) === speaking) return;
    if (this.send(JSON.stringify({ kind: "speaking", user_id: id, speaking }))) this.told.set(id, speaking);
  }
}

// ---- Discord side --------------------------------------------------------------------------

// The stores the plugin reads, by the names BetterDiscord's getStore knows them by.
const STORE_NAMES = {
  users: "UserStore",
  channels: "ChannelStore",
  guilds: "GuildStore",
  members: "GuildMemberStore",
  roles: "GuildRoleStore",
  selectedChannel: "SelectedChannelStore",
  guildSettings: "UserGuildSettingsStore",
  relationships: "RelationshipStore",
  presence: "SelfPresenceStore",
  streamerMode: "StreamerModeStore",
  messageRequests: "MessageRequestStore",
  spamRequests: "SpamMessageRequestStore",
  threads: "JoinedThreadsStore",
  lurking: "LurkingStore",
  // Quiet Mode's store was not found in public code under any name; this one is the likeliest, and its
  // absence leaves cards as they were.
  quietMode: "QuietModeStore",
};

// Discord's UI event bus also has subscribe, unsubscribe and dispatch, but never carries
// MESSAGE_CREATE; only the Flux dispatcher has stores `register` with it.
const DISPATCHER_METHODS = ["subscribe", "unsubscribe", "dispatch", "register"];

function isFluxDispatcher(candidate) {
  try {
    return !!candidate && DISPATCHER_METHODS.every((key) => typeof candidate[key] === "function");
  } catch (error) {
    return false; // some exports are proxies that throw on unknown keys
  }
}

// Every Flux store holds the dispatcher it registered with; a search of every export by the
// dispatcher's own keys is the way when no store is at hand.
function findDispatcher(stores) {
  const fromStore = Object.values(stores).map((store) => store && store._dispatcher).find(isFluxDispatcher);
  if (fromStore) return fromStore;
  const webpack = BdApi.Webpack;
  if (typeof webpack.getByKeys !== "function") return null;
  const found = webpack.getByKeys("dispatch", "subscribe", "register", { searchExports: true });
  return isFluxDispatcher(found) ? found : null;
}

function loadDiscordModules() {
  const webpack = BdApi.Webpack;
  const stores = {};
  for (const [key, name] of Object.entries(STORE_NAMES)) {
    stores[key] = (typeof webpack.getStore === "function" && webpack.getStore(name)) || null;
  }
  return { ...stores, dispatcher: findDispatcher(stores) };
}

function call(store, method, ...args) {
  return store && typeof store[method] === "function" ? store[method](...args) : undefined;
}

function discordWindowHasFocus() {
  const doc = globalThis.document;
  return !!(doc && typeof doc.hasFocus === "function" && doc.hasFocus());
}

// The member's picture for this server when they set one, else their own.
function avatarUrlOf(author, guildId, member) {
  if (guildId && member && member.avatar) {
    return `https://cdn.discordapp.com/guilds/${guildId}/users/${author.id}/avatars/${member.avatar}.png`;
  }
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
    this.voice = null;
    // The open settings panel's status line, if any.
    this.showStatus = null;
    this.onMessageCreate = guarded("message", (action) => this.handleMessage(action));
  }

  start() {
    if (this.link) this.stop();
    this.settings = this.loadSettings();
    this.discord = loadDiscordModules();
    if (this.discord.dispatcher) {
      this.discord.dispatcher.subscribe("MESSAGE_CREATE", this.onMessageCreate);
    } else {
      logInfo(NO_DISPATCHER);
    }
    const refreshStatus = () => this.showStatus && this.showStatus();
    this.voice = new VoiceFeed(this.discord.dispatcher, (text) => !!this.link && this.link.sendNow(text), refreshStatus);
    this.link = new VoxmereLink(`ws://127.0.0.1:${this.settings.port}`, (connected) => {
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
    for (const key of BOOLEAN_SETTINGS) {
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
    if ((message.flags || 0) & (FLAG_SILENT | FLAG_EPHEMERAL)) return false;
    const d = this.discord;
    const me = call(d.users, "getCurrentUser");
    if (!me || author.id === me.id || this.silencedByStatus()) return false;

    const { channelId, channel, guildId } = this.whereOf(action);
    if (this.isUnwanted(message, channelId)) return false;
    const reading = call(d.selectedChannel, "getChannelId") === channelId && discordWindowHasFocus();
    if (reading && !this.settings.focusedChannel) return false;

    const isDirect = !guildId || (channel && (channel.type === CHANNEL_DM || channel.type === CHANNEL_GROUP_DM));
    if (isDirect) {
      // A direct message's own level can be "nothing" without the conversation being muted.
      return this.settings.directMessages && !call(d.guildSettings, "isChannelMuted", null, channelId) &&
        !(channel && call(d.guildSettings, "allowNoMessages", channel));
    }
    // A server the user only previews sends them nothing.
    if (call(d.lurking, "isLurking", guildId)) return false;
    return this.serverChannelAllows(message, { channelId, channel, guildId }, me.id);
  }

  // Quiet Mode, Do Not Disturb, and Streamer Mode with notifications off keep Discord itself quiet.
  silencedByStatus() {
    const d = this.discord;
    if (call(d.quietMode, "isEnabled")) return true;
    if (call(d.presence, "getStatus") === "dnd" && !this.settings.whileDoNotDisturb) return true;
    return !!(d.streamerMode && d.streamerMode.disableNotifications) && !this.settings.whileStreaming;
  }

  // Blocked or ignored authors, authors flagged as spammers, message requests and spam never make a
  // notification in Discord.
  isUnwanted(message, channelId) {
    const d = this.discord;
    const record = call(d.users, "getUser", message.author.id);
    const flagged = record && typeof record.hasFlag === "function" ? record.hasFlag(FLAG_SPAMMER)
      : ((message.author.public_flags | message.author.flags) & FLAG_SPAMMER) !== 0;
    return !!(flagged || call(d.relationships, "isBlockedOrIgnored", message.author.id) ||
      call(d.relationships, "isBlockedOrIgnoredForMessage", message) ||
      call(d.messageRequests, "isMessageRequest", channelId) || call(d.spamRequests, "isSpam", channelId));
  }

  // The server's and channel's notification settings as Discord applies them.
  serverChannelAllows(message, { channelId, channel, guildId }, myId) {
    const d = this.discord;
    const isThread = !!channel && THREAD_TYPES.has(channel.type);
    if (isThread && !call(d.threads, "hasJoined", channelId)) return false;
    // A thread follows the notification level and mutes of the channel it belongs to.
    const ruling = (isThread && call(d.channels, "getChannel", channel.parent_id)) || channel;
    const mention = this.mentionOf(message, guildId, myId);
    const muted = call(d.guildSettings, "isGuildOrCategoryOrChannelMuted", guildId, ruling ? ruling.id : channelId) ||
      (isThread && call(d.threads, "isMuted", channelId));
    if (muted) return this.settings.mentionsWhenMuted && this.settings.mentions && mention === "personal";
    if (ruling && call(d.guildSettings, "allowNoMessages", ruling)) return false;
    if (this.settings.mentions && mention) return true;
    // Chat of a voice channel is worth a card only while the user is in that channel.
    if (channel && VOICE_CHANNEL_TYPES.has(channel.type) && call(d.selectedChannel, "getVoiceChannelId") !== channelId) {
      return false;
    }
    return !!(ruling && call(d.guildSettings, "allowAllMessages", ruling)) || this.settings.allMessagesServers.includes(guildId);
  }

  // "personal" (you by name or one of your roles), "everyone" (@everyone / @here), or "".
  mentionOf(message, guildId, myId) {
    const d = this.discord;
    if ((message.mentions || []).some((user) => user && (user.id || user) === myId)) return "personal";
    const member = this.memberOf(guildId, myId);
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
    const d = this.discord;
    const guild = guildId ? call(d.guilds, "getGuild", guildId) : null;
    const member = message.member || this.memberOf(guildId, author.id);
    return {
      username: author.username || "",
      displayName: this.nameOf(author, guildId, member),
      content: this.readableContent(message, guildId),
      avatarUrl: avatarUrlOf(author, guildId, member),
      // A group's name, or the server channel's; a direct message has no channel line.
      channelName: (channel && (guildId || channel.type === CHANNEL_GROUP_DM) && channel.name) || "",
      serverName: (guild && guild.name) || "",
      // Voxmere fetches a picture by user id and this hash, so it stays the user's own.
      avatarHash: author.avatar || "",
      userId: String(author.id),
    };
  }

  memberOf(guildId, userId) {
    return guildId ? call(this.discord.members, "getMember", guildId, userId) : null;
  }

  nameOf(user, guildId, member = this.memberOf(guildId, user.id)) {
    return (member && member.nick) || user.global_name || user.username || "";
  }

  // What the chat would show in place of the message: Discord's markup made readable, and a
  // short description of messages that carry no text of their own.
  readableContent(message, guildId) {
    const reference = message.message_reference;
    const snapshot = reference && reference.type === REFERENCE_FORWARD && ((message.message_snapshots || [])[0] || {}).message;
    if (snapshot) return "Forwarded: " + this.readableContent(snapshot, guildId);
    const stickers = (message.sticker_items || message.stickers || []).map((s) => s && s.name).filter(Boolean);
    if (stickers.length) return "Sticker: " + stickers.join(", ");
    if (message.poll) return "Poll: " + ((message.poll.question && message.poll.question.text) || "");
    let text = this.unmarkup(message.content || "", message.mentions, guildId);
    if (!text) {
      const embed = (message.embeds || []).find((e) => e && (e.title || e.description));
      text = embed ? embed.title || embed.description : "";
    }
    if (!text && ((message.flags || 0) & FLAG_VOICE_MESSAGE)) text = "Voice message";
    if (!text) text = (message.attachments || []).map((a) => a && a.filename).filter(Boolean).join(", ");
    return text;
  }

  // Discord's markup for mentions, channels, emoji and times, as the chat shows them.
  unmarkup(content, mentions, guildId) {
    const d = this.discord;
    const mentioned = new Map((mentions || []).filter((u) => u && u.id).map((u) => [u.id, u]));
    return content
      .replace(/<@!?(\d+)>/g, (whole, id) => {
        const user = mentioned.get(id) || call(d.users, "getUser", id);
        return user ? "@" + this.nameOf(user, guildId) : whole;
      })
      .replace(/<@&(\d+)>/g, (whole, id) => "@" + ((call(d.roles, "getRole", guildId, id) || {}).name || "role"))
      .replace(/<#(\d+)>/g, (whole, id) => {
        const channel = call(d.channels, "getChannel", id);
        return "#" + ((channel && channel.name) || "channel");
      })
      .replace(/<a?(:\w+:)\d+>/g, "$1")
      // A card over a game must not give away what the sender hid.
      .replace(/\|\|[\s\S]+?\|\|/g, "[spoiler]")
      .replace(/<t:(-?\d+)(?::[tTdDfFR])?>/g, (whole, seconds) => new Date(Number(seconds) * 1000).toLocaleString());
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
    // Discord renamed --text-normal to --text-default; both follow the theme, and the last resort
    // reads on dark and light alike.
    panel.style.color = "var(--text-default, var(--text-normal, #80848e))";

    const status = document.createElement("p");
    status.style.whiteSpace = "pre-line";
    this.showStatus = () => {
      status.textContent = this.statusText();
    };
    this.showStatus();
    panel.appendChild(status);

    panel.appendChild(this.checkbox("Direct messages and group messages", "directMessages"));
    panel.appendChild(this.checkbox("Mentions of you, your roles, @everyone and @here", "mentions"));
    panel.appendChild(this.checkbox("Messages in the channel you are reading while Discord has focus", "focusedChannel"));
    panel.appendChild(this.checkbox("Also while Do Not Disturb", "whileDoNotDisturb"));
    panel.appendChild(this.checkbox("Also while streaming", "whileStreaming"));
    panel.appendChild(this.checkbox("Mentions even when muted", "mentionsWhenMuted"));
    panel.appendChild(this.checkbox("Send my voice channel to Voxmere", "voiceFeed", (on) => {
      if (this.voice) on ? this.voice.start() : this.voice.stop();
      this.showStatus();
    }));
    panel.appendChild(this.serverList());

    const button = document.createElement("button");
    button.textContent = "Send test notification";
    button.addEventListener("click", () => this.sendTestNotification());
    panel.appendChild(button);
    return panel;
  }

  // A missing dispatcher outweighs the link: nothing would reach Voxmere even when connected.
  statusText() {
    if (this.discord && !this.discord.dispatcher) return NO_DISPATCHER;
    const link = this.link && this.link.connected ? "Connected to Voxmere." : "Voxmere is not connected (it may not be running).";
    const voice = this.voice && this.settings.voiceFeed ? this.voice.problem() : "";
    return voice ? `${link}\n${voice}` : link;
  }

  checkbox(label, key, then = () => {}) {
    return this.labelledCheckbox(label, this.settings[key], (checked) => {
      this.settings[key] = checked;
      this.saveSettings();
      then(checked);
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
