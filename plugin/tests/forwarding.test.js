// Which messages reach Voxmere, what their frames hold and how the link behaves, checked at a real
// WebSocket server.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");
const { execFile } = require("node:child_process");
const { ME, FRIEND, sockets, loadPlugin, startServer, waitUntil, sleep, messageAction, findElement } = require("./harness");

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

async function startedPlugin(settings = {}) {
  const server = await startServer();
  const t = { ...loadPlugin({ settings: { port: server.port, ...settings } }), server };
  t.plugin.start();
  await waitUntil(() => t.plugin.link.connected, 5000, "the plugin to connect");
  t.stop = () => { t.plugin.stop(); return t.server.close(); };
  return t;
}

// Returns every frame once the expected count arrived and a wrongly forwarded straggler had time to follow.
const framesFor = (t, expected) => t.server.waitFrames(expected, 10000).then(() => sleep(300)).then(() => t.server.frames.map(decodeFrame));

const me = { ...ME };
const CDN = "https://cdn.discordapp.com";
// Server g2 chosen for all messages; a row's `settings` override the loaded ones for that row, its channel is
// "dm-1" unless named. Rows with `sent` must arrive, in order, showing `shown` (or their content) and the fields of `card`.
const CASES = [
  { sent: 1, name: "direct message", content: "日本語のメッセージ 🎮👍🏽", card: { username: "friend", displayName: "Friend",
    avatarUrl: `${CDN}/avatars/200/f00d.png`, channelName: "", serverName: "", avatarHash: "f00d", userId: "200" } },
  { sent: 1, name: "group direct message", channelId: "gdm-1", content: "line\none \"q\" \\ tab\t/", card: { channelName: "weekend" } },
  { sent: 1, name: "bell and half a pair", content: "bell\u0007 half\uD83D", shown: "bell half\uFFFD" }, { name: "own message", author: me },
  { name: "local echo of a send", optimistic: true }, { name: "@silent message", flags: 4096 }, { name: "ephemeral message", flags: 64 },
  { name: "muted direct message", channelId: "dm-muted" }, { name: "direct message set to nothing", channelId: "dm-nothing" },
  { name: "blocked author", author: { id: "666", username: "troll" } }, { name: "Quiet Mode", quiet: true },
  { name: "author Discord flags as a spammer", author: { id: "777", username: "spam" } },
  { name: "flagged author not in the user store", author: { id: "778", username: "spam2", public_flags: 1 << 20 } },
  { name: "server only previewed", channelId: "c-preview" },
  { name: "message request", channelId: "dm-request" }, { name: "spam", channelId: "dm-spam" }, { name: "join notice", type: 7 },
  { name: "Do Not Disturb", status: "dnd" }, { name: "Streamer Mode without notifications", streaming: true },
  { sent: 1, name: "Do Not Disturb, also then", status: "dnd", settings: { whileDoNotDisturb: true } },
  { sent: 1, name: "streaming, also then", streaming: true, settings: { whileStreaming: true } },
  { sent: 1, name: "mention", channelId: "c-general", mentions: [me], content: "<@100> ready? ||boss dies||", shown: "@Me ready? [spoiler]",
    card: { displayName: "Captain", channelName: "general", serverName: "Raid Night", avatarUrl: `${CDN}/guilds/g1/users/200/avatars/9a1d.png`,
    avatarHash: "f00d" } },
  { sent: 1, name: "own role", channelId: "c-general", mentionRoles: ["501"], content: "<@&501> pull", shown: "@Raiders pull" },
  { name: "another role", channelId: "c-general", mentionRoles: ["502"] }, { sent: 1, name: "@everyone", channelId: "c-general", everyone: true },
  { name: "only-mentions channel", channelId: "c-general" }, { sent: 1, name: "all-messages channel", channelId: "c-all" },
  { name: "mention in a channel set to nothing", channelId: "c-nothing", mentions: [me] },
  { sent: 1, name: "chosen server", channelId: "c-chosen", author: { id: "300", username: "someone" }, card: { displayName: "someone",
    serverName: "ゲーム部", avatarHash: "", avatarUrl: `${CDN}/embed/avatars/0.png` } },
  { name: "muted channel of a chosen server", channelId: "c-muted" }, { name: "muted category", channelId: "c-in-cat" },
  { name: "mention in a muted server", channelId: "c-mg", mentions: [me] },
  { sent: 1, name: "mention when muted, mentions even then", channelId: "c-muted", mentions: [me], settings: { mentionsWhenMuted: true } },
  { sent: 1, name: "chat of the voice channel the user is in", channelId: "v-in" }, { name: "chat of another voice channel", channelId: "v-out" },
  { sent: 1, name: "joined thread", channelId: "t-joined" }, { name: "thread not joined", channelId: "t-unjoined" },
  { name: "muted thread", channelId: "t-muted" }, { name: "channel being read in focus", reading: true, focused: true },
  { sent: 1, name: "channel being read, Discord in the background", reading: true },
  { sent: 1, name: "forward", content: "", shown: "Forwarded: see you at 9", extra: { message_reference: { type: 1 },
    message_snapshots: [{ message: { content: "see you at 9" } }] } },
  { sent: 1, name: "poll", content: "", extra: { poll: { question: { text: "Raid?" } } }, shown: "Poll: Raid?" },
  { sent: 1, name: "voice message", content: "", flags: 8192, extra: { attachments: [{ filename: "v.ogg" }] }, shown: "Voice message" },
  { sent: 1, name: "sticker", content: "", extra: { sticker_items: [{ name: "wave" }] }, shown: "Sticker: wave" },
];
const pick = (record, keys) => Object.fromEntries(keys.map((key) => [key, record[key]]));

// Stored settings of the wrong types fall back to the defaults (direct messages on); bad ids are dropped.
test("forwards what Discord itself would notify of, and shows it readably", { timeout: 30000 }, async () => {
  const t = await startedPlugin({ allMessagesServers: ["g2", 7], directMessages: 0, mentions: "no" });
  const loaded = { ...t.plugin.settings };
  try {
    const sent = CASES.filter((row) => row.sent);
    for (const row of CASES) {
      Object.assign(t.discord.state, { focused: !!row.focused, selected: row.reading ? "dm-1" : null, status: row.status || "online",
        streaming: !!row.streaming, quiet: !!row.quiet });
      t.plugin.settings = { ...loaded, ...row.settings };
      t.discord.dispatcher.dispatch(messageAction({ content: row.name, guildId: t.discord.channels[row.channelId || "dm-1"].guild_id, ...row }));
      // The link holds only a few sends waiting for their turn.
      if (row.sent) await t.server.waitFrames(sent.indexOf(row) + 1);
    }
    const records = await framesFor(t, sent.length);
    assert.deepEqual(records.map((r) => r.content), sent.map((row) => row.shown ?? row.content ?? row.name));
    sent.forEach((row, i) => row.card && assert.deepEqual(pick(records[i], Object.keys(row.card)), row.card, row.name));
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
    const status = findElement(plugin.getSettingsPanel(), (e) => e.tag === "p").textContent, subscribed = discord.dispatcher.count("MESSAGE_CREATE");
    plugin.stop();
    assert.deepEqual([subscribed, status.includes("no notifications can be forwarded")], [found ? 1 : 0, !found], status);
  }
});

// Each frame must arrive in a read of its own at Voxmere, so a burst goes out with gaps; while Voxmere is
// away nothing is kept for later, and the test button says which way it went.
test("a burst goes out in turn, cut to fit; after a Voxmere restart the link is back", { timeout: 30000 }, async () => {
  const t = await startedPlugin();
  try {
    const long = ["あ".repeat(3000), "😀".repeat(1500), "\"\\\n".repeat(2000), "é🎮日a".repeat(700)];
    const author = { id: "200", username: "friend", global_name: "名前".repeat(400) };
    long.forEach((content) => t.discord.dispatcher.dispatch(messageAction({ content, author })));
    const records = await framesFor(t, long.length);
    const sentAt = t.plugin.link.socket.sentAt, gaps = sentAt.slice(1).map((at, i) => at - sentAt[i]);
    assert.ok(gaps.length === 3 && gaps.every((gap) => gap >= 90) && t.server.origins.join() === "https://discord.com", `gaps ${gaps} ms`);
    records.forEach((record, i) => assert.ok(t.server.frames[i].bytes.length > 4095 - 8 && record.content.endsWith("\u2026")
      && long[i].startsWith(record.content.slice(0, -1)), `frame ${i} uses the room it has, cut at a whole character`));

    const testButton = findElement(t.plugin.getSettingsPanel(), (e) => e.tag === "button" && e.textContent === "Send test notification");
    const port = t.server.port, attempts = sockets.length;
    await t.server.close();
    await waitUntil(() => !t.plugin.link.connected, 5000, "the plugin to notice");
    t.discord.dispatcher.dispatch(messageAction({ content: "while down" }));
    testButton.on.click();
    assert.equal(t.toasts.at(-1), "error", "the test button says Voxmere is missing");
    await waitUntil(() => sockets.length > attempts && sockets.at(-1).readyState === 3, 5000, "an attempt to fail while nothing listens");
    t.server = await startServer(port);
    await waitUntil(() => t.plugin.link.connected, 8000, "reconnection");
    testButton.on.click();
    const [card] = await framesFor(t, 1);
    assert.deepEqual([t.server.frames.length, card.displayName, card.userId, t.toasts.at(-1)], [1, "Tallybell", ME.id, "success"]);
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
