// Stand-ins for what the plugin finds inside Discord: BdApi with its webpack lookups, data store and
// toasts, Discord's dispatcher and stores, the renderer's WebSocket and a little of its document.
"use strict";

const path = require("node:path");
const { WebSocket, WebSocketServer } = require("ws");

const PLUGIN_PATH = path.join(__dirname, "..", "Tallybell.plugin.js");
const ME = { id: "100", username: "me_user", global_name: "Me", avatar: "abc123" };

// The renderer's WebSocket: masked frames (as every client's), and the Origin of the Discord client.
class BrowserLikeWebSocket extends WebSocket {
  constructor(url) {
    super(url, { origin: "https://discord.com", closeTimeout: 2000 });
  }
}

class Dispatcher {
  constructor() {
    this.handlers = new Map();
  }
  subscribe(type, handler) {
    if (!this.handlers.has(type)) this.handlers.set(type, new Set());
    this.handlers.get(type).add(handler);
  }
  unsubscribe(type, handler) {
    const set = this.handlers.get(type);
    if (set) set.delete(handler);
  }
  dispatch(action) {
    for (const handler of this.handlers.get(action.type) || []) handler(action);
  }
  count(type) {
    return (this.handlers.get(type) || new Set()).size;
  }
}

// A small Discord: two servers, a few channels, some muted.
function makeDiscord() {
  const state = {
    focused: false,
    selectedChannelId: null,
    mutedGuilds: new Set(["g-muted"]),
    mutedChannels: new Set(["c-muted", "cat-muted", "dm-muted"]),
    blocked: new Set(["666"]),
  };
  const channels = {
    "dm-1": { id: "dm-1", type: 1, name: "" },
    "dm-muted": { id: "dm-muted", type: 1, name: "" },
    "gdm-1": { id: "gdm-1", type: 3, name: "weekend plans" },
    "c-general": { id: "c-general", type: 0, guild_id: "g1", name: "general" },
    "c-chosen": { id: "c-chosen", type: 0, guild_id: "g2", name: "lobby" },
    "c-muted": { id: "c-muted", type: 0, guild_id: "g2", name: "spam" },
    "c-in-cat": { id: "c-in-cat", type: 0, guild_id: "g2", name: "quiet", parent_id: "cat-muted" },
    "c-mg": { id: "c-mg", type: 0, guild_id: "g-muted", name: "chatter" },
  };
  const guilds = {
    g1: { id: "g1", name: "Raid Night", roles: { r1: { name: "healers" }, r2: { name: "tanks" } } },
    g2: { id: "g2", name: "ゲーム部" },
    "g-muted": { id: "g-muted", name: "Loud Server" },
  };
  const stores = {
    UserStore: { getCurrentUser: () => ME, getUser: (id) => (id === ME.id ? ME : undefined) },
    ChannelStore: { getChannel: (id) => channels[id] },
    GuildStore: { getGuild: (id) => guilds[id], getGuilds: () => guilds },
    GuildMemberStore: {
      getMember: (guildId, userId) => (userId === ME.id ? { roles: ["r1"] } : null),
      getNick: (guildId, userId) => (guildId === "g1" && userId === "200" ? "Captain" : null),
    },
    SelectedChannelStore: { getChannelId: () => state.selectedChannelId },
    UserGuildSettingsStore: {
      isMuted: (guildId) => state.mutedGuilds.has(guildId),
      isChannelMuted: (guildId, channelId) => state.mutedChannels.has(channelId),
    },
    RelationshipStore: { isBlocked: (id) => state.blocked.has(id) },
  };
  return { state, stores, dispatcher: new Dispatcher() };
}

// A minimal DOM for the settings panel: elements with children, listeners and text.
function makeDocument(discordState) {
  const createElement = (tag) => ({
    tag,
    style: {},
    children: [],
    listeners: {},
    textContent: "",
    appendChild(child) {
      this.children.push(child);
      return child;
    },
    addEventListener(type, listener) {
      (this.listeners[type] = this.listeners[type] || []).push(listener);
    },
    fire(type) {
      for (const listener of this.listeners[type] || []) listener({ type, target: this });
    },
  });
  return {
    createElement,
    createTextNode: (text) => ({ tag: "#text", textContent: text, children: [] }),
    hasFocus: () => discordState.focused,
  };
}

function findElements(root, predicate, found = []) {
  if (predicate(root)) found.push(root);
  for (const child of root.children || []) findElements(child, predicate, found);
  return found;
}

// The checkbox whose label text contains the words.
function findCheckbox(panel, words) {
  const label = findElements(panel, (e) => e.tag === "label" &&
    e.children.some((c) => c.tag === "#text" && c.textContent.includes(words)))[0];
  return label && label.children.find((c) => c.tag === "input");
}

// Installs the stand-ins as the renderer's globals and loads a fresh copy of the plugin.
function loadPlugin({ settings, discord = makeDiscord() } = {}) {
  const data = new Map();
  if (settings) data.set("Tallybell/settings", JSON.parse(JSON.stringify(settings)));
  const toasts = [];
  globalThis.BdApi = {
    Webpack: {
      getByKeys: (...keys) => (keys.every((k) => k in discord.dispatcher) ? discord.dispatcher : undefined),
      getStore: (name) => discord.stores[name],
    },
    Data: {
      load: (name, key) => data.get(`${name}/${key}`),
      save: (name, key, value) => data.set(`${name}/${key}`, JSON.parse(JSON.stringify(value))),
    },
    UI: { showToast: (text, options) => toasts.push({ text, type: options && options.type }) },
  };
  globalThis.WebSocket = BrowserLikeWebSocket;
  globalThis.document = makeDocument(discord.state);
  delete require.cache[require.resolve(PLUGIN_PATH)];
  const Plugin = require(PLUGIN_PATH);
  return { plugin: new Plugin({ name: "Tallybell" }), Plugin, discord, data, toasts };
}

// A WebSocket server on an ephemeral (or given) loopback port that records every frame.
function startServer(port = 0) {
  return new Promise((resolve, reject) => {
    const wss = new WebSocketServer({ host: "127.0.0.1", port });
    const server = { wss, frames: [], origins: [], clients: new Set() };
    wss.on("connection", (socket, request) => {
      server.origins.push(request.headers.origin);
      server.clients.add(socket);
      socket.on("close", () => server.clients.delete(socket));
      socket.on("message", (data, isBinary) => server.frames.push({ bytes: Buffer.from(data), isBinary, at: Date.now() }));
    });
    wss.on("error", reject);
    wss.on("listening", () => {
      server.port = wss.address().port;
      resolve(server);
    });
    server.waitFrames = (count, timeoutMs = 5000) =>
      waitUntil(() => server.frames.length >= count, timeoutMs, `${count} frame(s)`).then(() => server.frames);
    // Ends every connection at once, as a program that quits does, and stops listening.
    server.close = () => new Promise((done) => {
      for (const client of server.clients) client.terminate();
      wss.close(() => done());
    });
  });
}

function waitUntil(condition, timeoutMs, what) {
  const deadline = Date.now() + timeoutMs;
  return new Promise((resolve, reject) => {
    const poll = () => {
      if (condition()) return resolve();
      if (Date.now() > deadline) return reject(new Error(`timed out waiting for ${what}`));
      setTimeout(poll, 20);
    };
    poll();
  });
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// A MESSAGE_CREATE action as Discord's dispatcher delivers it.
function messageAction({ channelId, guildId, author = { id: "200", username: "friend", global_name: "Friend", avatar: "f00d" },
  content = "hello", mentions = [], mentionRoles = [], everyone = false, optimistic = false, type = 0, extra = {} }) {
  return {
    type: "MESSAGE_CREATE",
    channelId,
    guildId,
    optimistic,
    message: {
      id: String(Math.floor(Math.random() * 1e15)),
      channel_id: channelId,
      type,
      author,
      content,
      mentions,
      mention_roles: mentionRoles,
      mention_everyone: everyone,
      ...extra,
    },
  };
}

module.exports = {
  ME, BrowserLikeWebSocket, makeDiscord, loadPlugin, startServer, waitUntil, sleep, messageAction,
  findElements, findCheckbox,
};
