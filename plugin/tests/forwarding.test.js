// Which messages reach Voxmere, what their frames hold and how the link behaves, checked at a real
// WebSocket server.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");
const { execFile } = require("node:child_process");
const { ME, FRIEND, sockets, loadPlugin, panelOf, startServer, waitUntil, sleep, messageAction } = require("./harness");

const KEYS = ["avatarHash", "avatarUrl", "channelName", "content", "displayName", "serverName", "userId", "username"];

// A text frame of strict UTF-8 within Voxmere's limit: one object of exactly the eight string keys,
// non-ASCII sent as itself.
function decodeFrame({ bytes, isBinary }) {
  const text = new TextDecoder("utf-8", { fatal: true }).decode(bytes), record = JSON.parse(text);
  assert.ok(!isBinary && bytes.length <= 4095 && !/\\u[0-9a-f]{4}/i.test(text) && Buffer.byteLength(record.displayName) <= 256,
    `${bytes.length} bytes: ${text.slice(0, 80)}`);
  assert.deepEqual(Object.entries(record).map(([key, value]) => key + typeof value).sort(), KEYS.map((key) => `${key}string`));
  return record;
}

async function startedPlugin(settings = {}, layout = undefined) {
  const server = await startServer();
  const t = { ...loadPlugin({ settings: { port: server.port, ...settings }, layout }), server };
  t.plugin.start();
  await waitUntil(() => t.plugin.link.connected, 5000, "the plugin to connect");
  t.stop = () => { t.plugin.stop(); return t.server.close(); };
  return t;
}

// Returns every frame once the expected count arrived and a wrongly forwarded straggler had time to follow.
const framesFor = (t, expected) => t.server.waitFrames(expected, 10000).then(() => sleep(300)).then(() => t.server.frames.map(decodeFrame));

const me = { ...ME };
const QUINN = { id: "250", username: "quinn", globalName: "Quinn" };
const CDN = "https://cdn.discordapp.com";
// Server g2 chosen for all messages; a row's `settings` override the loaded ones for that row, its channel is
// "dm-1" unless named; `reading` is the channel on screen ("dm-1" for true), `sidebar` the thread open beside
// it. Rows with `sent` must arrive, in order, showing `shown` (or their content) and the fields of `card`. The
// first row comes while RelationshipStore has not loaded yet.
const CASES = [
  { name: "blocked author while a store the rule needs is missing", author: { id: "666", username: "troll" }, storeMissing: true },
  { sent: 1, name: "direct message", channelId: "dm-robin", author: { id: "210", username: "robin" }, content: "日本語のメッセージ 🎮👍🏽",
    card: { username: "robin", displayName: "Robin", avatarUrl: `${CDN}/avatars/210/r0b1.png`, channelName: "", serverName: "", avatarHash: "r0b1",
    userId: "210" } },
  { sent: 1, name: "direct message from a friend given a nickname", card: { username: "friend", displayName: "Bestie" } },
  { sent: 1, name: "group direct message", channelId: "gdm-1", content: "line\none \"q\" \\ tab\t/", card: { channelName: "weekend" } },
  { sent: 1, name: "group direct message without a name", channelId: "gdm-unnamed", card: { channelName: "Bestie, Quinn", displayName: "Bestie" } },
  { sent: 1, name: "bell and half a pair", content: "bell\u0007 half\uD83D", shown: "bell half\uFFFD" }, { name: "own message", author: me },
  { name: "local echo of a send", optimistic: true }, { name: "@silent message", flags: 4096 }, { name: "ephemeral message", flags: 64 },
  { name: "muted direct message", channelId: "dm-muted" }, { name: "direct message set to nothing", channelId: "dm-nothing" },
  { name: "blocked author", author: { id: "666", username: "troll" } }, { name: "Quiet Mode", quiet: true },
  { name: "Quiet Mode, in a channel set to all messages", channelId: "c-all", quiet: true },
  { name: "author Discord flags as a spammer", author: { id: "777", username: "spam" } },
  { name: "flagged author not in the user store", author: { id: "778", username: "spam2", public_flags: 1 << 20 } },
  { name: "author not in the user store", author: { id: "404", username: "ghost" } },
  { name: "channel not in the channel store", channelId: "c-unknown" },
  { name: "server only previewed", channelId: "c-preview" },
  { name: "direct message while a game asks Discord to hold them", gameHolds: true },
  { sent: 1, name: "group message while a game asks Discord to hold direct messages", channelId: "gdm-1", gameHolds: true },
  { name: "message request", channelId: "dm-request" }, { name: "spam", channelId: "dm-spam" }, { name: "join notice", type: 7 },
  { name: "Do Not Disturb", status: "dnd" }, { name: "Streamer Mode without notifications", streaming: true },
  { sent: 1, name: "Do Not Disturb, also then", status: "dnd", settings: { whileDoNotDisturb: true } },
  { sent: 1, name: "streaming, also then", streaming: true, settings: { whileStreaming: true } },
  { sent: 1, name: "Streamer Mode hiding personal information", channelId: "dm-quinn", author: QUINN, hidePersonal: true,
    card: { username: "quinn", displayName: "Q\u2026" } },
  { sent: 1, name: "mention", channelId: "c-general", mentions: [me], content: "<@100> ready? ||boss dies||", shown: "@Me ready? [spoiler]",
    card: { displayName: "Captain", channelName: "general", serverName: "Raid Night", avatarUrl: `${CDN}/guilds/g1/users/200/avatars/9a1d.png`,
    avatarHash: "f00d" } },
  { sent: 1, name: "a user named but not pinged", content: "<@250> is here", shown: "@Quinn is here" },
  { sent: 1, name: "own role", channelId: "c-general", mentionRoles: ["501"], content: "<@&501> pull", shown: "@Raiders pull" },
  { name: "another role", channelId: "c-general", mentionRoles: ["502"] }, { sent: 1, name: "@everyone", channelId: "c-general", everyone: true },
  { sent: 1, name: "mention of a game the user played this week", channelId: "c-general", extra: { mention_games: [{ id: "app-recent" }] } },
  { name: "mention of a game whose mentions the user muted", channelId: "c-general", extra: { mention_games: [{ id: "app-muted" }] } },
  { name: "only-mentions channel", channelId: "c-general" }, { sent: 1, name: "all-messages channel", channelId: "c-all" },
  { name: "mention in a channel set to nothing", channelId: "c-nothing", mentions: [me] },
  { sent: 1, name: "chosen server", channelId: "c-chosen", author: { id: "310", username: "someone" }, card: { displayName: "someone",
    serverName: "ゲーム部", avatarHash: "", avatarUrl: `${CDN}/embed/avatars/0.png` } },
  { name: "muted channel of a chosen server", channelId: "c-muted" }, { name: "muted category", channelId: "c-in-cat" },
  { name: "mention in a muted server", channelId: "c-mg", mentions: [me] },
  { sent: 1, name: "mention when muted, mentions even then", channelId: "c-muted", mentions: [me], settings: { mentionsWhenMuted: true } },
  { sent: 1, name: "chat of the voice channel the user is in", channelId: "v-in", rtc: "v-in" },
  { name: "chat of the voice channel selected when Discord last closed, not joined since", channelId: "v-in" },
  { name: "chat of another voice channel", channelId: "v-out", rtc: "v-in" },
  { sent: 1, name: "joined thread", channelId: "t-joined" }, { name: "thread not joined", channelId: "t-unjoined" },
  { name: "muted thread", channelId: "t-muted" },
  { sent: 1, name: "thread set to all messages in an only-mentions channel", channelId: "t-all" },
  { name: "thread set to only mentions in an all-messages channel", channelId: "t-mentions" },
  { name: "mention in a thread set to nothing", channelId: "t-nothing", mentions: [me] },
  { sent: 1, name: "@everyone in a thread set to mentions, server suppressing @everyone", channelId: "t-sup", everyone: true },
  { name: "channel being read in focus", reading: true, focused: true },
  { name: "thread open beside the channel being read in focus", channelId: "t-joined", reading: "c-all", sidebar: "t-joined", focused: true },
  { sent: 1, name: "channel being read, Discord in the background", reading: true },
  { sent: 1, name: "forward", content: "", shown: "Forwarded: see you at 9", extra: { message_reference: { type: 1 },
    message_snapshots: [{ message: { content: "see you at 9" } }] } },
  { sent: 1, name: "poll", content: "", extra: { poll: { question: { text: "Raid?" } } }, shown: "Poll: Raid?" },
  { sent: 1, name: "voice message", content: "", flags: 8192, extra: { attachments: [{ filename: "v.ogg" }] }, shown: "Voice message" },
  { sent: 1, name: "sticker", content: "", extra: { sticker_items: [{ name: "wave" }] }, shown: "Sticker: wave" },
  { sent: 1, name: "embed", content: "", extra: { embeds: [{ title: "Patch 2.1", description: "servers restart at 6" }] },
    shown: "Patch 2.1 servers restart at 6" },
  { sent: 1, name: "embed of fields", content: "", extra: { embeds: [{ fields: [{ name: "Score", value: "3 : 1" }] }] }, shown: "Score 3 : 1" },
  { sent: 1, name: "two attachments", content: "", extra: { attachments: [{ filename: "map.png" }, { filename: "notes.txt" }] }, shown: "map.png" },
];
const pick = (record, keys) => Object.fromEntries(keys.map((key) => [key, record[key]]));
const rowState = (row) => ({ focused: !!row.focused, selected: row.reading === true ? "dm-1" : row.reading || null, sidebar: row.sidebar || null,
  status: row.status || "online", streaming: !!row.streaming, hidePersonal: !!row.hidePersonal, quiet: !!row.quiet, rtc: row.rtc || null,
  gameHolds: !!row.gameHolds });

// Stored settings of the wrong types fall back to the defaults (direct messages on); bad ids are dropped.
test("forwards what Discord itself would notify of, and shows it readably", { timeout: 30000 }, async () => {
  const t = await startedPlugin({ allMessagesServers: ["g2", 7], directMessages: 0, mentions: "no" }, { lateStores: ["RelationshipStore"] });
  const loaded = { ...t.plugin.settings }, panel = panelOf(t.plugin);
  try {
    const sent = CASES.filter((row) => row.sent);
    for (const row of CASES) {
      if (!row.storeMissing && t.plugin.discord.missing.length) {
        const missing = "Discord's RelationshipStore.isBlockedOrIgnored, RelationshipStore.isBlockedOrIgnoredForMessage were not found";
        assert.ok(panel.status().includes(missing), panel.status());
        assert.deepEqual(t.toasts.map((toast) => [toast.type, toast.text.includes(missing)]), [["warning", true]]);
        assert.ok(t.logs.some((line) => line.level === "warn" && line.pluginName === "Tallybell" && line.text.includes(missing)));
        t.discord.loadLate();
        await waitUntil(() => !panel.status().includes("not found"), 5000, "the store to be found again");
      }
      Object.assign(t.discord.state, rowState(row));
      t.plugin.settings = { ...loaded, ...row.settings };
      t.discord.dispatcher.dispatch(messageAction({ content: row.name, guildId: (t.discord.channels[row.channelId || "dm-1"] || {}).guild_id, ...row }));
      // The link holds only a few sends waiting for their turn.
      if (row.sent) await t.server.waitFrames(sent.indexOf(row) + 1);
    }
    const records = await framesFor(t, sent.length);
    assert.deepEqual(records.map((r) => r.content), sent.map((row) => row.shown ?? row.content ?? row.name));
    sent.forEach((row, i) => row.card && assert.deepEqual(pick(records[i], Object.keys(row.card)), row.card, row.name));
    assert.equal(t.toasts.length, 1, "the missing store is told once");
  } finally {
    await t.stop();
  }
});

// With no store's dispatcher and no module's, the plugin says so instead of forwarding nothing in silence.
test("subscribes to Discord's Flux dispatcher, not to a look-alike, or says it found none", () => {
  for (const [layout, found] of [[{ dispatcherModule: false }, true], [{ storesCarryDispatcher: false }, true],
    [{ storesCarryDispatcher: false, dispatcherModule: false }, false]]) {
    const { plugin, discord } = loadPlugin({ layout, settings: { port: 9 } });
    plugin.start();
    const status = panelOf(plugin).status(), subscribed = discord.dispatcher.count("MESSAGE_CREATE");
    plugin.stop();
    assert.deepEqual([subscribed, status.includes("no notifications can be forwarded")], [found ? 1 : 0, !found], status);
  }
});

// BetterDiscord stores what the plugin saves as JSON, so each save is a copy of the moment.
test("the panel saves each choice as made; the changelog shows the first time a version starts", () => {
  const t = loadPlugin({ settings: { port: 9, allMessagesServers: ["g1"] }, stored: { version: "1.1.0" } });
  t.plugin.start();
  const panel = panelOf(t.plugin);
  assert.deepEqual(panel.items.filter((item) => item.category === "servers").map((item) => [item.name, item.value]),
    [["Hush", false], ["Loud", false], ["Raid Night", true], ["Small", false], ["ゲーム部", false]]);
  panel.toggle("whileDoNotDisturb", true, "cards");
  assert.deepEqual(pick(t.data.settings, ["whileDoNotDisturb", "allMessagesServers"]), { whileDoNotDisturb: true, allMessagesServers: ["g1"] });
  panel.toggle("g3", true, "servers");
  panel.toggle("g1", false, "servers");
  assert.deepEqual(pick(t.data.settings, ["whileDoNotDisturb", "allMessagesServers"]), { whileDoNotDisturb: true, allMessagesServers: ["g3"] });
  panel.close();
  t.plugin.stop();
  t.plugin.start();
  t.plugin.stop();
  assert.deepEqual([t.changelogs.map((log) => log.subtitle), t.data.version], [[`Version ${t.plugin.meta.version}`], t.plugin.meta.version]);
});

// Each frame must arrive in a read of its own at Voxmere, so a burst goes out with gaps; while Voxmere is
// away nothing is kept for later, and the test button says which way it went.
test("a burst goes out in turn, cut to fit; after a Voxmere restart the link is back", { timeout: 30000 }, async () => {
  const t = await startedPlugin();
  try {
    const long = ["あ".repeat(3000), "😀".repeat(1500), "\"\\\n".repeat(2000), "é🎮日a".repeat(700)];
    const author = { id: "260", username: "long", globalName: "名前".repeat(400) };
    t.discord.addUser(author);
    long.forEach((content) => t.discord.dispatcher.dispatch(messageAction({ content, author })));
    const records = await framesFor(t, long.length);
    const sentAt = t.plugin.link.socket.sentAt, gaps = sentAt.slice(1).map((at, i) => at - sentAt[i]);
    assert.ok(gaps.length === 3 && gaps.every((gap) => gap >= 90) && t.server.origins.join() === "https://discord.com", `gaps ${gaps} ms`);
    records.forEach((record, i) => assert.ok(t.server.frames[i].bytes.length > 4095 - 8 && record.content.endsWith("\u2026")
      && long[i].startsWith(record.content.slice(0, -1)), `frame ${i} uses the room it has, cut at a whole character`));

    const panel = panelOf(t.plugin);
    const port = t.server.port, attempts = sockets.length;
    await t.server.close();
    await waitUntil(() => !t.plugin.link.connected, 5000, "the plugin to notice");
    t.discord.dispatcher.dispatch(messageAction({ content: "while down" }));
    panel.click("test");
    assert.equal(t.toasts.at(-1).type, "error", "the test button says Voxmere is missing");
    await waitUntil(() => sockets.length > attempts && sockets.at(-1).readyState === 3, 5000, "an attempt to fail while nothing listens");
    t.server = await startServer(port);
    await waitUntil(() => t.plugin.link.connected, 8000, "reconnection");
    panel.click("test");
    const [card] = await framesFor(t, 1);
    assert.deepEqual([t.server.frames.length, card.displayName, card.userId, t.toasts.at(-1).type], [1, "Tallybell", ME.id, "success"]);
  } finally {
    await t.stop();
  }
});

// After stop nothing may stay behind (subscription, socket, retry or send timer): each case runs in
// a process of its own, which reports its active resources and must then exit by itself.
for (const when of ["connected", "retrying", "connecting", "watching"]) {
  test(`stop leaves nothing running (${when})`, { timeout: 20000 }, async () => {
    const stdout = await new Promise((resolve, reject) => execFile(process.execPath, [path.join(__dirname, "stop_child.js"), when],
      { timeout: 15000 }, (error, out, err) => (error ? reject(new Error(`${error.message}\n${out}${err}`)) : resolve(out))));
    assert.deepEqual(JSON.parse(stdout.trim().split("\n").at(-1)), { when, subscribers: 0, active: [] });
  });
}
