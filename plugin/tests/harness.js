// Stand-ins for what the plugin finds inside Discord: BdApi, the dispatcher and stores, the
// renderer's WebSocket and a little of its document; and a WebSocket server that records frames.
"use strict";

const path = require("node:path");
const { WebSocket, WebSocketServer } = require("ws");

const ME = { id: "100", username: "me_user", global_name: "Me", avatar: "abc123" };
const FRIEND = { id: "200", username: "friend", global_name: "Friend", avatar: "f00d" };

// The renderer's WebSocket: masked frames, and the Origin of the Discord client.
class BrowserLikeWebSocket extends WebSocket {
  constructor(url) {
    super(url, { origin: "https://discord.com", closeTimeout: 2000 });
  }
}

// Two servers with a few channels; "g-muted", "c-muted", the category "cat-muted" and "dm-muted" are muted.
function makeDiscord() {
  const state = { focused: false, selected: null };
  const handlers = new Set();
  const channels = {
    "dm-1": { type: 1 }, "dm-muted": { type: 1 }, "gdm-1": { type: 3, name: "weekend" },
    "c-general": { guild_id: "g1", name: "general" }, "c-chosen": { guild_id: "g2", name: "lobby" },
    "c-muted": { guild_id: "g2", name: "spam" }, "c-in-cat": { guild_id: "g2", name: "quiet", parent_id: "cat-muted" },
    "c-mg": { guild_id: "g-muted", name: "chatter" },
  };
  const guilds = { g1: { id: "g1", name: "Raid Night" }, g2: { id: "g2", name: "ゲーム部" }, "g-muted": { id: "g-muted", name: "Loud" } };
  const muted = new Set(["g-muted", "c-muted", "cat-muted", "dm-muted"]);
  const stores = {
    UserStore: { getCurrentUser: () => ME, getUser: () => undefined },
    ChannelStore: { getChannel: (id) => channels[id] && { id, type: 0, ...channels[id] } },
    GuildStore: { getGuild: (id) => guilds[id], getGuilds: () => guilds },
    GuildMemberStore: {
      getMember: (guildId, userId) => (userId === ME.id ? { roles: ["r1"] } : null),
      getNick: (guildId, userId) => (guildId === "g1" && userId === FRIEND.id ? "Captain" : null),
    },
    SelectedChannelStore: { getChannelId: () => state.selected },
    UserGuildSettingsStore: { isMuted: (g) => muted.has(g), isChannelMuted: (g, c) => muted.has(c) },
    RelationshipStore: { isBlocked: (id) => id === "666" },
  };
  const dispatcher = {
    subscribe: (type, handler) => type === "MESSAGE_CREATE" && handlers.add(handler),
    unsubscribe: (type, handler) => handlers.delete(handler),
    dispatch: (action) => handlers.forEach((handler) => handler(action)),
    handlers,
  };
  return { state, stores, dispatcher };
}

function element(tag) {
  return {
    tag, style: {}, children: [], on: {}, textContent: "",
    appendChild(child) { this.children.push(child); return child; },
    addEventListener(type, listener) { this.on[type] = listener; },
  };
}
const findElement = (root, match) => (match(root) ? root : (root.children || []).map((c) => findElement(c, match)).find(Boolean));
// The checkbox whose label contains the words.
const findCheckbox = (panel, words) => findElement(panel, (e) => e.tag === "label" &&
  e.children.some((c) => (c.textContent || "").includes(words))).children[0];

// Installs the stand-ins as the renderer's globals and loads a fresh copy of the plugin.
function loadPlugin({ settings } = {}) {
  const discord = makeDiscord();
  const data = new Map(settings ? [["settings", settings]] : []);
  const toasts = [];
  globalThis.BdApi = {
    Webpack: {
      getByKeys: (...keys) => [discord.dispatcher, ...Object.values(discord.stores)].find((m) => keys.every((k) => k in m)),
      getStore: (name) => discord.stores[name],
    },
    Data: { load: (name, key) => data.get(key), save: (name, key, value) => data.set(key, structuredClone(value)) },
    UI: { showToast: (text, options) => toasts.push(options.type) },
  };
  globalThis.WebSocket = BrowserLikeWebSocket;
  globalThis.document = { createElement: element, createTextNode: (text) => ({ textContent: text }), hasFocus: () => discord.state.focused };
  const file = path.join(__dirname, "..", "Tallybell.plugin.js");
  delete require.cache[require.resolve(file)];
  const Plugin = require(file);
  return { plugin: new Plugin({ name: "Tallybell" }), Plugin, discord, data, toasts };
}

function waitUntil(condition, timeoutMs, what) {
  const deadline = Date.now() + timeoutMs;
  return new Promise((resolve, reject) => {
    const poll = () => (condition() ? resolve() : Date.now() > deadline
      ? reject(new Error(`timed out waiting for ${what}`)) : setTimeout(poll, 20));
    poll();
  });
}
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// A WebSocket server on a loopback port (ephemeral unless given) that records every frame.
async function startServer(port = 0) {
  const wss = new WebSocketServer({ host: "127.0.0.1", port });
  const server = { frames: [], origins: [], clients: new Set() };
  wss.on("connection", (socket, request) => {
    server.origins.push(request.headers.origin);
    server.clients.add(socket);
    socket.on("close", () => server.clients.delete(socket));
    socket.on("message", (bytes, isBinary) => server.frames.push({ bytes, isBinary, at: Date.now() }));
  });
  await new Promise((resolve, reject) => wss.on("listening", resolve).on("error", reject));
  server.port = wss.address().port;
  server.waitFrames = (count, timeoutMs = 5000) => waitUntil(() => server.frames.length >= count, timeoutMs, `${count} frame(s)`);
  server.contents = () => server.frames.map((f) => JSON.parse(f.bytes).content);
  // Drops every connection at once, as a program that quits, and stops listening.
  server.close = () => new Promise((resolve) => {
    server.clients.forEach((client) => client.terminate());
    wss.close(resolve);
  });
  return server;
}

// A MESSAGE_CREATE action as Discord's dispatcher delivers it.
function messageAction({ channelId, guildId, author = FRIEND, content = "hello", mentions = [], mentionRoles = [],
  everyone = false, optimistic = false, type = 0 }) {
  return { type: "MESSAGE_CREATE", channelId, guildId, optimistic, message: { id: "1", channel_id: channelId, type,
    author, content, mentions, mention_roles: mentionRoles, mention_everyone: everyone } };
}

module.exports = { ME, FRIEND, BrowserLikeWebSocket, loadPlugin, startServer, waitUntil, sleep, messageAction, findElement, findCheckbox };
