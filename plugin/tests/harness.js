// Stand-ins for what the plugin finds inside Discord: BdApi, the dispatcher and stores, the
// renderer's WebSocket and a little of its document; and a WebSocket server that records frames.
"use strict";

const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const assert = require("node:assert/strict");
const { execFileSync } = require("node:child_process");
const { WebSocket, WebSocketServer } = require("ws");

// Users as UserStore keeps them: `globalName`, and discriminator "0" since usernames became unique.
const ME = { id: "100", username: "me_user", globalName: "Me", avatar: "abc123", discriminator: "0" };
const FRIEND = { id: "200", username: "friend", globalName: "Friend", avatar: "f00d", discriminator: "0" };
const SPAMMER_FLAG = 1 << 20;
const sockets = [];

// The renderer's WebSocket: masked frames, the Origin of the Discord client; it notes when each
// frame was handed to it, which arrival times at the server blur under load.
class BrowserLikeWebSocket extends WebSocket {
  constructor(url) { super(url, { origin: "https://discord.com", closeTimeout: 2000 }); this.sentAt = []; sockets.push(this); }
  send(data) { if (!String(data).startsWith('{"kind"')) this.sentAt.push(Date.now()); super.send(data); }
}

// Notification levels as UserGuildSettingsStore resolves them: the channel's, its parent's, the server's.
const ALL = 0, MENTIONS = 1, NOTHING = 2;
// A thread member's flags: 1 marks a thread the user took part in, with no level of its own.
const THREAD_ALL = 2, THREAD_MENTIONS = 4, THREAD_NOTHING = 8;

// Discord as BetterDiscord's search sees it. Servers: g1 (mentions only), g2 (chosen in tests), g3 (all
// messages, with voice channels and threads), g4 (mentions only, suppresses @everyone) and g-muted;
// "c-muted", the category "cat-muted" and "dm-muted" are muted. Threads carry the user's own level or none.
// `storesCarryDispatcher` and `dispatcherModule` take parts of the layout away; the stores named in
// `lateStores` are registered only by `discord.loadLate()`.
function makeDiscord({ storesCarryDispatcher = true, dispatcherModule = true, lateStores = [] } = {}) {
  const state = { focused: false, selected: null, selectedGuild: null, sidebar: null, voice: "v-in", status: "online",
    streaming: false, hidePersonal: false, quiet: false, rtc: null, gameHolds: false };
  const handlers = new Map();
  const dm = (...recipients) => ({ type: 1, recipients });
  const thread = (parent_id, guild_id = "g3") => ({ guild_id, type: 11, parent_id });
  const channels = { "dm-1": dm(FRIEND.id), "dm-muted": dm("666"), "dm-request": dm("310"), "dm-spam": dm("310"), "dm-nothing": dm("310"),
    "dm-robin": dm("210"), "dm-quinn": dm("250"), "c-preview": { guild_id: "g-preview", name: "welcome" }, "stage": { guild_id: "g3", type: 13, name: "Town Hall" },
    "gdm-1": { type: 3, name: "weekend", recipients: [FRIEND.id, "250"] }, "gdm-unnamed": { type: 3, name: "", recipients: [FRIEND.id, "250"] },
    "c-general": { guild_id: "g1", name: "general" }, "c-chosen": { guild_id: "g2", name: "lobby" },
    "c-muted": { guild_id: "g2", name: "spam" }, "c-in-cat": { guild_id: "g2", name: "quiet", parent_id: "cat-muted" },
    "c-mg": { guild_id: "g-muted", name: "chatter" }, "c-all": { guild_id: "g3", name: "chat" }, "c-nothing": { guild_id: "g3", name: "news" },
    "c-sup": { guild_id: "g4", name: "lounge" }, "v-in": { guild_id: "g3", type: 2, name: "Voice A" }, "v-out": { guild_id: "g3", type: 2, name: "Voice B" },
    ...Object.fromEntries(["t-joined", "t-unjoined", "t-muted", "t-mentions", "t-nothing"].map((id) => [id, thread("c-all")])),
    "t-all": thread("c-general", "g1"), "t-sup": thread("c-sup", "g4") };
  const threadFlags = { "t-joined": 1, "t-muted": 1, "t-all": THREAD_ALL, "t-mentions": THREAD_MENTIONS, "t-nothing": THREAD_NOTHING, "t-sup": THREAD_MENTIONS };
  const guilds = Object.fromEntries([["g1", "Raid Night"], ["g2", "ゲーム部"], ["g3", "Small"], ["g4", "Hush"], ["g-muted", "Loud"]].map(([id, name]) => [id, { id, name }]));
  const levels = { g1: MENTIONS, g2: MENTIONS, g3: ALL, g4: MENTIONS, "g-muted": ALL, "g-preview": ALL, "c-nothing": NOTHING, "dm-nothing": NOTHING };
  const muted = new Set(["g-muted", "c-muted", "cat-muted", "dm-muted"]);
  // Private channels have no server default: all messages unless set otherwise.
  const level = (c) => levels[c.id] ?? levels[c.parent_id] ?? levels[c.guild_id] ?? ALL;
  // A channel's parent counts as its category: a thread of a muted channel is muted too.
  const anyMuted = (guildId, channelId) => muted.has(guildId) || muted.has(channelId) || muted.has((channels[channelId] || {}).parent_id);
  const blocked = (id) => id === "666";
  // UserStore's records answer hasFlag; "777" is flagged as a spammer, "250" has a server avatar in g3 and
  // "404" is not loaded yet. In g3 the friend is "Pilot" with a server avatar of the member's own.
  // Records carry globalName, as UserStore's do (the gateway's global_name is not kept).
  const record = ({ global_name: gatewayName, ...user }) => ({ discriminator: "0", globalName: gatewayName ?? null, ...user,
    hasFlag: (flag) => ((user.flags || 0) & flag) === flag });
  const users = Object.fromEntries([ME, FRIEND, { id: "250", username: "quinn", globalName: "Quinn", avatar: null, guildMemberAvatars: { g3: "ga250" } },
    { id: "210", username: "robin", globalName: "Robin", avatar: "r0b1" }, { id: "300", username: "bot_dj", avatar: "b0b0", bot: true },
    { id: "310", username: "someone", avatar: null }, { id: "666", username: "troll" }, { id: "777", username: "spam", flags: SPAMMER_FLAG }]
    .map((u) => [u.id, record(u)]));
  const members = { "g1/200": { nick: "Captain", avatar: "9a1d" }, "g3/200": { nick: "Pilot", avatar: "7e57" } };
  // Games the user played, by application id, as LibraryApplicationStatisticsStore dates them.
  const played = { "app-recent": Date.now() - 7 * 24 * 3600 * 1000, "app-muted": Date.now() - 24 * 3600 * 1000 };
  const nicknames = { [FRIEND.id]: "Bestie" };
  const voice = makeVoiceStates(state, channels);
  // What the stores make of the actions that change how members and channels look.
  const looks = {
    GUILD_MEMBER_UPDATE: (a) => { members[`${a.guildId}/${a.user.id}`] = { nick: a.nick ?? null, avatar: a.avatar ?? null }; },
    USER_UPDATE: (a) => { users[a.user.id] = record(a.user); },
    RELATIONSHIP_UPDATE: (a) => { if (a.relationship.nickname == null) delete nicknames[a.relationship.id]; else nicknames[a.relationship.id] = a.relationship.nickname; },
    CHANNEL_UPDATES: (a) => a.channels.forEach((channel) => { channels[channel.id] = { ...channels[channel.id], ...channel }; }),
    GUILD_DELETE: (a) => Object.keys(channels).filter((id) => channels[id].guild_id === a.guild.id).forEach((id) => delete channels[id]),
  };
  // ChannelStore's records: the channel's fields and a few methods.
  const channelRecord = (id) => channels[id] && { id, type: 0, guild_id: null, parent_id: null, name: "", recipients: [], ...channels[id],
    isManaged: () => false, getGuildId() { return this.guild_id; } };
  const methods = {
    UserStore: { getCurrentUser: () => users[ME.id], getUser: (id) => users[id] },
    ChannelStore: { getChannel: channelRecord },
    GuildStore: { getGuild: (id) => guilds[id], getGuilds: () => guilds },
    GuildMemberStore: { getMember: (guildId, userId) => (userId === ME.id ? { roles: ["501"] } : members[`${guildId}/${userId}`] || null),
      getNick: (guildId, userId) => { if (userId === "500") throw new TypeError("broken record"); return (members[`${guildId}/${userId}`] || {}).nick || null; } },
    GuildRoleStore: { getRole: (guildId, roleId) => (guildId === "g1" && roleId === "501" ? { id: "501", name: "Raiders" } : undefined) },
    // The selected voice channel is restored from the last session at start-up, before any connection.
    SelectedChannelStore: { getChannelId: () => state.selected, getVoiceChannelId: () => state.voice },
    SelectedGuildStore: { getGuildId: () => state.selectedGuild },
    ChannelSectionStore: { getCurrentSidebarChannelId: (id) => (id != null && id === state.selected ? state.sidebar : null) },
    // allowNoMessages is true for muted channels too; allowAllMessages never is.
    UserGuildSettingsStore: { isChannelMuted: (g, c) => muted.has(c), isGuildOrCategoryOrChannelMuted: anyMuted,
      resolvedMessageNotifications: level, isSuppressEveryoneEnabled: (g) => g === "g4", isSuppressRolesEnabled: () => false,
      isOptInEnabled: () => false, isChannelRecordOrParentOptedIn: () => true,
      allowNoMessages: (c) => anyMuted(c.guild_id, c.id) || level(c) === NOTHING,
      allowAllMessages: (c) => !anyMuted(c.guild_id, c.id) && level(c) === ALL },
    // Quiet Mode is one of the user's synced settings; its proto field is absent until it was first set.
    UserSettingsProtoStore: { get settings() { return { notifications: state.quiet ? { quietMode: { value: true } } : {} }; } },
    RelationshipStore: { isBlockedOrIgnored: blocked, isBlockedOrIgnoredForMessage: (m) => blocked(m.author.id),
      getNickname: (id) => nicknames[id] },
    LurkingStore: { isLurking: (guildId) => guildId === "g-preview" },
    VoiceStateStore: { getVoiceStatesForChannel: voice.forChannel }, SpeakingStore: voice.speakingStore,
    MediaEngineStore: voice.mediaEngineStore, SoundboardStore: voice.soundboardStore,
    RTCConnectionStore: { getChannelId: () => state.rtc }, AuthenticationStore: { getSessionId: () => "session-here" },
    SelfPresenceStore: { getStatus: () => state.status },
    StreamerModeStore: { get disableNotifications() { return state.streaming; }, get hidePersonalInformation() { return state.hidePersonal; } },
    MessageRequestStore: { isMessageRequest: (id) => id === "dm-request" },
    RpcNotificationSettingsStore: { areSlayerNotificationsSuppressed: () => state.gameHolds }, SpamMessageRequestStore: { isSpam: (id) => id === "dm-spam" },
    // flags is undefined for a thread the user has not joined.
    JoinedThreadsStore: { hasJoined: (id) => id in threadFlags, isMuted: (id) => id === "t-muted", flags: (id) => threadFlags[id] },
    EmbeddedActivitiesStore: { getCurrentEmbeddedActivity: () => null },
    LibraryApplicationStatisticsStore: { getLastPlayedDateTime: (id) => played[id] ?? null },
    GameMentionSettingsStore: { getMute: (id) => (id === "app-muted" ? true : undefined) },
  };
  // Like Discord's: the stores handle an action before any subscriber sees it, and a subscriber's exception
  // skips the rest and reaches the dispatching code.
  const dispatcher = { handlers, register: () => "token",
    subscribe: (type, handler) => handlers.set(type, new Set([...(handlers.get(type) || []), handler])),
    unsubscribe: (type, handler) => handlers.get(type) && handlers.get(type).delete(handler),
    count: (type) => [...handlers].filter(([t]) => !type || t === type).reduce((sum, [, set]) => sum + set.size, 0),
    dispatch: (action) => { voice.handle(action); if (looks[action.type]) looks[action.type](action);
      (handlers.get(action.type) || []).forEach((handler) => handler(action)); } };
  // Discord's UI event bus: the same three methods, and no message ever passes through it.
  const eventBus = { subscribe() {}, unsubscribe() {}, dispatch() {}, dispatchToLastSubscribed() {} };
  const stores = Object.entries(methods).map(([name, store]) => Object.assign(store, { getName: () => name,
    _dispatchToken: `${name}-token`, _dispatcher: storesCarryDispatcher ? dispatcher : undefined }));
  const late = stores.filter((store) => lateStores.includes(store.getName()));
  // Webpack's modules in id order; the dispatcher is a named export beside an enum.
  const modules = [{ A: eventBus }, ...stores.filter((store) => !late.includes(store)).map((store) => ({ A: store })),
    ...(dispatcherModule ? [{ A: Object.freeze({ MESSAGE_CREATE: 0, TYPING_START: 1 }), h: dispatcher }] : [])];
  const loadLate = () => modules.push(...late.map((store) => ({ A: store })));
  const addUser = (user) => { users[user.id] = record(user); };
  return { state, modules, dispatcher, channels, voice, loadLate, addUser };
}

// The voice stores as Discord keeps them. VoiceStateStore: per channel one live object keyed by user id,
// changed in place, whose records are frozen and replaced on each change; the user's own state carries
// this session and moves at once with VOICE_CHANNEL_SELECT; a server removed takes its states along; a
// call's states come as VOICE_STATE_UPDATES after CALL_CREATE. SpeakingStore: flags per context (1 voice,
// 2 soundshare, 4 priority). MediaEngineStore: the user's own mute and deafen and the members they muted
// for themselves. SoundboardStore: sounds playing per member, forgotten on a channel change.
function makeVoiceStates(state, channels) {
  const byChannel = {}, flags = new Map(), sounds = new Map(), EMPTY = Object.freeze({});
  const engine = { selfMute: false, selfDeaf: false, localMutes: new Set() };
  const stateOf = (userId) => Object.values(byChannel).map((users) => users[userId]).find(Boolean);
  const put = ({ userId, channelId, guildId, ...fields }) => {
    Object.values(byChannel).forEach((users) => delete users[userId]);
    if (!channelId) return;
    byChannel[channelId] = byChannel[channelId] || {};
    byChannel[channelId][userId] = Object.freeze({ userId, channelId, sessionId: userId === ME.id ? "session-here" : `s-${userId}`,
      mute: false, deaf: false, selfMute: false, selfDeaf: false, selfVideo: false, selfStream: false, suppress: false,
      requestToSpeakTimestamp: null, ...fields });
  };
  const count = (map, key, by) => { const n = (map.get(key) || 0) + by; if (n > 0) map.set(key, n); else map.delete(key); };
  const reducers = {
    VOICE_CHANNEL_SELECT: (a) => { state.voice = a.channelId; sounds.clear();
      const { channelId, ...own } = stateOf(ME.id) || { selfMute: engine.selfMute, selfDeaf: engine.selfDeaf };
      put({ ...own, userId: ME.id, channelId: a.channelId }); },
    VOICE_STATE_UPDATES: (a) => a.voiceStates.forEach(put),
    PASSIVE_UPDATE_V2: (a) => { (a.voiceStates || []).forEach(put); (a.removedVoiceStateUsers || []).forEach((userId) => put({ userId })); },
    RTC_CONNECTION_STATE: (a) => { if (!a.streamKey) state.rtc = a.state === "RTC_CONNECTED" ? a.channelId : null; },
    CALL_DELETE: (a) => Object.keys(byChannel[a.channelId] || {}).forEach((userId) => put({ userId })),
    GUILD_DELETE: (a) => Object.keys(byChannel).filter((id) => (channels[id] || {}).guild_id === a.guild.id)
      .forEach((id) => Object.keys(byChannel[id]).forEach((userId) => put({ userId }))),
    SPEAKING: (a) => { if (a.speakingFlags) flags.set(`${a.context}/${a.userId}`, a.speakingFlags); else flags.delete(`${a.context}/${a.userId}`); },
    AUDIO_TOGGLE_SELF_MUTE: () => { engine.selfMute = !engine.selfMute; },
    AUDIO_TOGGLE_SELF_DEAF: () => { engine.selfDeaf = !engine.selfDeaf; },
    AUDIO_TOGGLE_LOCAL_MUTE: (a) => { if (engine.localMutes.has(a.userId)) engine.localMutes.delete(a.userId); else engine.localMutes.add(a.userId); },
    GUILD_SOUNDBOARD_SOUND_PLAY_START: (a) => count(sounds, a.userId, 1),
    GUILD_SOUNDBOARD_SOUND_PLAY_END: (a) => count(sounds, a.userId, -1),
  };
  const flagOf = (id, context = "default", flag) => ((flags.get(`${context}/${id}`) || 0) & flag) === flag;
  return { put, handle: (action) => reducers[action.type] && reducers[action.type](action), forChannel: (id) => byChannel[id] || EMPTY,
    speakingStore: { isSpeaking: (id, context) => flagOf(id, context, 1), isSoundSharing: (id, context) => flagOf(id, context, 2) },
    mediaEngineStore: { isSelfMute: () => engine.selfMute || engine.selfDeaf, isSelfDeaf: () => engine.selfDeaf,
      isLocalMute: (id) => id !== ME.id && engine.localMutes.has(id) },
    soundboardStore: { isUserPlayingSounds: (id) => (sounds.get(id) || 0) > 0 } };
}

// BetterDiscord's search: modules in id order, each one's exports object, then only its default
// export unless every export is to be searched.
const search = (modules, filter, { searchExports = false } = {}) => modules.map((exports) => (filter(exports) ? exports
  : (searchExports ? Object.keys(exports) : ["A", "Ay", "default"].filter((key) => key in exports).slice(0, 1))
    .map((key) => exports[key]).find((value) => value && typeof value === "object" && filter(value)))).find(Boolean);

// The assembled plugin: the build's copy when the build names it, else put together now from the sources.
let assembled = process.env.TALLYBELL_PLUGIN || null;
function pluginFile() {
  if (!assembled) {
    assembled = path.join(fs.mkdtempSync(path.join(os.tmpdir(), "tallybell-")), "Tallybell.plugin.js");
    execFileSync("cmake", [`-DOUT=${assembled}`, "-P", path.join(__dirname, "..", "assemble.cmake")]);
  }
  return require.resolve(assembled);
}

// BetterDiscord reads a plugin's meta from the comment block the file starts with.
const metaOf = (file) => Object.fromEntries([...fs.readFileSync(file, "utf8").match(/^\/\*\*([\s\S]*?)\*\//)[1]
  .matchAll(/^\s*\*\s*@(\w+)\s+(.*?)\s*$/gm)].map((match) => match.slice(1)));

const SETTING_TYPES = new Set(["switch", "dropdown", "number", "text", "file", "slider", "radio", "keybind", "color", "button", "position", "custom"]);
const CHANGE_TYPES = new Set(["fixed", "added", "progress", "improved"]);

// BetterDiscord 1.13's API (besides Webpack), recording what the plugin shows: toasts, changelogs and
// log lines. Its settings panel is a React element; buildSettingsPanel throws where BetterDiscord's does
// and, like its components, draws nothing for a setting of a type it does not know.
function makeBdApi(stored, seen) {
  const logger = Object.fromEntries(["log", "info", "warn", "error", "debug"].map((level) =>
    [level, (pluginName, ...messages) => seen.logs.push({ level, pluginName, text: messages.join(" ") })]));
  return {
    Data: { load: (name, key) => stored[key], save: (name, key, value) => { stored[key] = JSON.parse(JSON.stringify(value)); } },
    Logger: logger,
    React: { createElement: (type, props, ...children) => ({ type, props: { ...props, children: children.length ? children : undefined } }) },
    UI: {
      showToast: (text, options = {}) => seen.toasts.push({ text, type: options.type }),
      showChangelogModal: (options) => {
        assert.ok(typeof options.title === "string" && options.changes.every((change) => typeof change.title === "string" &&
          CHANGE_TYPES.has(change.type) && change.items.every((item) => typeof item === "string")), "a changelog as BetterDiscord takes it");
        seen.changelogs.push(options);
      },
      buildSettingsPanel: ({ settings, onChange }) => {
        if (!settings || !settings.length) throw new Error("No settings provided!");
        const check = (setting) => { if (!setting.id || !setting.type) throw new Error("Setting item missing id or type"); return setting; };
        const drawn = settings.map(check).map((setting) => (setting.type === "category"
          ? { ...setting, settings: (setting.settings || []).filter((item) => SETTING_TYPES.has(item.type)) } : setting))
          .filter((setting) => setting.type === "category" || SETTING_TYPES.has(setting.type));
        return { type: "BdSettingsPanel", props: { settings: drawn, onChange } };
      },
    },
  };
}

// The plugin's panel as BetterDiscord draws and uses it: React hands the status line's element to its
// ref; a switch calls its own onChange, then the panel's with its category's id (null at the top).
function panelOf(plugin) {
  const { settings, onChange } = plugin.getSettingsPanel().props;
  const items = settings.flatMap((s) => (s.type === "category" ? s.settings.map((item) => ({ ...item, category: s.id })) : [{ ...s, category: null }]));
  const find = (id, category) => items.find((item) => item.id === id && (category === undefined || item.category === category)) ||
    assert.fail(`no setting "${id}" in the panel`);
  const statusLine = find("status").children, element = { textContent: "" };
  statusLine.props.ref(element);
  return { items, status: () => element.textContent, close: () => statusLine.props.ref(null),
    toggle: (id, value, category) => { const item = find(id, category); if (item.onChange) item.onChange(value); if (onChange) onChange(item.category, id, value); },
    click: (id) => find(id).onClick({ preventDefault() {}, stopPropagation() {} }) };
}

// Installs the stand-ins as the renderer's globals and loads a fresh copy of the plugin with the meta
// BetterDiscord reads from it. `stored` is what BdApi.Data holds besides the settings.
function loadPlugin({ settings, layout, stored = {} } = {}) {
  const discord = makeDiscord(layout), seen = { toasts: [], changelogs: [], logs: [] }, data = { ...stored, settings };
  globalThis.BdApi = { ...makeBdApi(data, seen), Webpack: {
    getByKeys: (...keys) => search(discord.modules, (m) => keys.every((key) => typeof key !== "string" || key in m),
      typeof keys.at(-1) === "object" ? keys.at(-1) : {}),
    getStore: (name) => search(discord.modules, (m) => !!m._dispatchToken && m.getName() === name) } };
  globalThis.WebSocket = BrowserLikeWebSocket;
  globalThis.document = { hasFocus: () => discord.state.focused };
  const file = pluginFile();
  delete require.cache[file];
  const Plugin = require(file);
  return { plugin: new Plugin(metaOf(file)), Plugin, discord, data, ...seen };
}

// A condition that throws (a failed assertion) ends the wait with its error.
const waitUntil = (condition, timeoutMs, what, deadline = Date.now() + timeoutMs) => new Promise((resolve, reject) => {
  const poll = () => { try {
    if (condition()) resolve(); else if (Date.now() > deadline) reject(new Error(`timed out waiting for ${what}`)); else setTimeout(poll, 20);
  } catch (error) { reject(error); } };
  poll();
});
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// A WebSocket server on a loopback port (ephemeral unless given) that records every frame, the voice feed's
// (those with a "kind") apart from the notifications; close drops
// every connection at once, as a program that quits, and stops listening.
async function startServer(port = 0) {
  const wss = new WebSocketServer({ host: "127.0.0.1", port });
  const server = { frames: [], voice: [], origins: [], clients: new Set() };
  const kindOf = (bytes) => { try { return JSON.parse(bytes).kind; } catch (error) { return undefined; } };
  wss.on("connection", (socket, request) => {
    server.origins.push(request.headers.origin) && server.clients.add(socket);
    socket.on("close", () => server.clients.delete(socket))
      .on("message", (bytes, isBinary) => (kindOf(bytes) ? server.voice : server.frames).push({ bytes, isBinary }));
  });
  await new Promise((resolve, reject) => wss.on("listening", resolve).on("error", reject));
  server.port = wss.address().port;
  server.waitFrames = (count, timeoutMs = 5000) => waitUntil(() => server.frames.length >= count, timeoutMs, `${count} frame(s)`);
  server.close = () => new Promise((resolve) => { server.clients.forEach((client) => client.terminate()); wss.close(resolve); });
  return server;
}

// A user as the gateway writes one into a message (`global_name`), not as UserStore keeps it.
const gatewayUser = ({ globalName, hasFlag, ...user }) => ({ global_name: globalName ?? null, avatar: null, discriminator: "0", ...user });

// A MESSAGE_CREATE action as Discord's dispatcher delivers it; `extra` adds fields to the message.
const messageAction = ({ channelId = "dm-1", guildId, author = FRIEND, content = "hello", mentions = [], mentionRoles = [], everyone = false,
  optimistic = false, type = 0, flags = 0, extra = {} }) => ({ type: "MESSAGE_CREATE", channelId, guildId, optimistic, message: { id: "1",
  channel_id: channelId, type, author: gatewayUser(author), content, mentions: mentions.map(gatewayUser), mention_roles: mentionRoles,
  mention_everyone: everyone, flags, ...extra } });

module.exports = { ME, FRIEND, sockets, loadPlugin, panelOf, startServer, waitUntil, sleep, messageAction };
