// Which messages reach Voxmere and what their frames hold, checked at a real WebSocket server.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const { ME, loadPlugin, startServer, waitUntil, sleep, messageAction, findElement, findCheckbox } = require("./harness");

const KEYS = ["avatarHash", "avatarUrl", "channelName", "content", "displayName", "serverName", "userId", "username"];
const STRICT_UTF8 = new TextDecoder("utf-8", { fatal: true });

// A text frame of strict UTF-8 within Voxmere's limit: one object of exactly the eight string
// keys, non-ASCII sent as itself.
function decodeFrame(frame) {
  assert.equal(frame.isBinary, false);
  assert.ok(frame.bytes.length <= 4095, `${frame.bytes.length} bytes`);
  const text = STRICT_UTF8.decode(frame.bytes);
  assert.doesNotMatch(text, /\\u[0-9a-f]{4}/i);
  const record = JSON.parse(text);
  assert.deepEqual(Object.keys(record).sort(), KEYS);
  Object.values(record).forEach((value) => assert.equal(typeof value, "string"));
  return record;
}

async function startedPlugin(settings = {}) {
  const server = await startServer();
  const t = { ...loadPlugin({ settings: { port: server.port, ...settings } }), server };
  t.plugin.start();
  await waitUntil(() => t.plugin.link.connected, 5000, "the plugin to connect");
  t.stop = () => { t.plugin.stop(); return server.close(); };
  return t;
}

// Dispatches the messages, then returns every frame once the expected count arrived and a wrongly
// forwarded straggler has had time to follow.
async function framesFor(t, actions, expected) {
  actions.forEach((action) => t.discord.dispatcher.dispatch(action));
  await t.server.waitFrames(expected, 10000);
  await sleep(300);
  return t.server.frames.map(decodeFrame);
}

const me = { ...ME };
const CDN = "https://cdn.discordapp.com";
// Defaults, with server g2 chosen for all messages; a row's `settings` override them for that row.
// Rows with `sent` must arrive, in order, showing `shown` (or their content) and the fields of `card`.
const CASES = [
  { sent: true, name: "direct message", channelId: "dm-1", content: "日本語のメッセージ 🎮👍🏽", card: { username: "friend",
    displayName: "Friend", avatarUrl: `${CDN}/avatars/200/f00d.png`, channelName: "", serverName: "", avatarHash: "f00d", userId: "200" } },
  { sent: true, name: "group direct message", channelId: "gdm-1", card: { channelName: "weekend" } },
  { name: "own message", channelId: "dm-1", author: me }, { name: "local echo of a send", channelId: "dm-1", optimistic: true },
  { name: "@silent message", channelId: "dm-1", flags: 4096 }, { name: "ephemeral message", channelId: "dm-1", flags: 64 },
  { name: "muted direct message", channelId: "dm-muted" },
  { name: "blocked or ignored author", channelId: "dm-1", author: { id: "666", username: "troll" } },
  { name: "message request", channelId: "dm-request" }, { name: "spam", channelId: "dm-spam" },
  { name: "join notice", channelId: "dm-1", type: 7 },
  { name: "Do Not Disturb", channelId: "dm-1", status: "dnd" },
  { sent: true, name: "Do Not Disturb, also then", channelId: "dm-1", status: "dnd", settings: { whileDoNotDisturb: true } },
  { name: "Streamer Mode without notifications", channelId: "dm-1", streaming: true },
  { sent: true, name: "streaming, also then", channelId: "dm-1", streaming: true, settings: { whileStreaming: true } },
  { sent: true, name: "mention", channelId: "c-general", guildId: "g1", mentions: [me], content: "<@100> ready? ||boss dies||",
    shown: "@Me ready? [spoiler]", card: { displayName: "Captain", channelName: "general", serverName: "Raid Night",
      avatarUrl: `${CDN}/guilds/g1/users/200/avatars/9a1d.png`, avatarHash: "f00d" } },
  { sent: true, name: "mention of own role", channelId: "c-general", guildId: "g1", mentionRoles: ["501"], content: "<@&501> pull",
    shown: "@Raiders pull" },
  { name: "mention of another role", channelId: "c-general", guildId: "g1", mentionRoles: ["502"] },
  { sent: true, name: "@everyone", channelId: "c-general", guildId: "g1", everyone: true },
  { name: "only-mentions channel", channelId: "c-general", guildId: "g1" },
  { sent: true, name: "all-messages channel", channelId: "c-all", guildId: "g3" },
  { name: "mention in a channel set to nothing", channelId: "c-nothing", guildId: "g3", mentions: [me] },
  { sent: true, name: "chosen server", channelId: "c-chosen", guildId: "g2", author: { id: "300", username: "someone" },
    card: { displayName: "someone", serverName: "ゲーム部", avatarHash: "", avatarUrl: `${CDN}/embed/avatars/0.png` } },
  { name: "muted channel of a chosen server", channelId: "c-muted", guildId: "g2" },
  { name: "muted category of a chosen server", channelId: "c-in-cat", guildId: "g2" },
  { name: "mention in a muted server", channelId: "c-mg", guildId: "g-muted", mentions: [me] },
  { sent: true, name: "mention when muted, mentions even then", channelId: "c-muted", guildId: "g2", mentions: [me],
    settings: { mentionsWhenMuted: true } },
  { sent: true, name: "chat of the voice channel the user is in", channelId: "v-in", guildId: "g3" },
  { name: "chat of another voice channel", channelId: "v-out", guildId: "g3" },
  { sent: true, name: "joined thread", channelId: "t-joined", guildId: "g3" },
  { name: "thread not joined", channelId: "t-unjoined", guildId: "g3" }, { name: "muted thread", channelId: "t-muted", guildId: "g3" },
  { name: "channel being read in focus", channelId: "dm-1", reading: true, focused: true },
  { sent: true, name: "channel being read, Discord in the background", channelId: "dm-1", reading: true },
  { sent: true, name: "forward", channelId: "dm-1", content: "", shown: "Forwarded: see you at 9",
    extra: { message_reference: { type: 1 }, message_snapshots: [{ message: { content: "see you at 9" } }] } },
  { sent: true, name: "poll", channelId: "dm-1", content: "", extra: { poll: { question: { text: "Raid?" } } }, shown: "Poll: Raid?" },
  { sent: true, name: "voice message", channelId: "dm-1", content: "", flags: 8192, extra: { attachments: [{ filename: "v.ogg" }] }, shown: "Voice message" },
  { sent: true, name: "sticker", channelId: "dm-1", content: "", extra: { sticker_items: [{ name: "wave" }] }, shown: "Sticker: wave" },
];
const pick = (record, keys) => Object.fromEntries(keys.map((key) => [key, record[key]]));

test("forwards what Discord itself would notify of, and shows it readably", { timeout: 30000 }, async () => {
  const t = await startedPlugin({ allMessagesServers: ["g2"] });
  const defaults = { ...t.plugin.settings };
  try {
    let expected = 0;
    for (const row of CASES) {
      Object.assign(t.discord.state, { focused: !!row.focused, selected: row.reading ? row.channelId : null,
        status: row.status || "online", streaming: !!row.streaming });
      t.plugin.settings = { ...defaults, ...row.settings };
      t.discord.dispatcher.dispatch(messageAction({ content: row.name, ...row }));
      // The link holds only a few sends waiting for their turn.
      if (row.sent) await t.server.waitFrames(++expected);
    }
    const sent = CASES.filter((row) => row.sent);
    const records = await framesFor(t, [], sent.length);
    assert.deepEqual(records.map((r) => r.content), sent.map((row) => row.shown ?? row.content ?? row.name));
    sent.forEach((row, i) => row.card && assert.deepEqual(pick(records[i], Object.keys(row.card)), row.card, row.name));
  } finally {
    await t.stop();
  }
});

// With no store's dispatcher and no module's, the plugin says so instead of forwarding nothing in silence.
const LAYOUTS = [
  { name: "a store's dispatcher", layout: { dispatcherModule: false }, found: true },
  { name: "a named export found by searching every export", layout: { storesCarryDispatcher: false }, found: true },
  { name: "none", layout: { storesCarryDispatcher: false, dispatcherModule: false }, found: false },
];

test("subscribes to Discord's Flux dispatcher, not to a look-alike, or says it found none", () => {
  for (const { name, layout, found } of LAYOUTS) {
    const { plugin, discord } = loadPlugin({ layout, settings: { port: 9 } });
    plugin.start();
    const status = findElement(plugin.getSettingsPanel(), (e) => e.tag === "p").textContent;
    const subscribed = discord.dispatcher.handlers.size;
    plugin.stop();
    assert.equal(subscribed, found ? 1 : 0, name);
    assert.equal(status.includes("no notifications can be forwarded"), !found, `${name}: ${status}`);
  }
});

// Each frame must arrive in a read of its own at Voxmere, so a burst goes out with gaps.
test("a burst of long messages goes out in turn, each cut to fit at a whole character", { timeout: 20000 }, async () => {
  const t = await startedPlugin();
  try {
    const long = ["あ".repeat(3000), "😀".repeat(1500), "\"\\\n".repeat(2000), "é🎮日a".repeat(700)];
    const records = await framesFor(t, long.map((content) => messageAction({ channelId: "dm-1", content })), long.length);
    const sentAt = t.plugin.link.socket.sentAt;
    const gaps = sentAt.slice(1).map((at, i) => at - sentAt[i]);
    assert.ok(gaps.length === 3 && gaps.every((gap) => gap >= 90), `gaps ${gaps} ms`);
    assert.deepEqual(t.server.origins, ["https://discord.com"]);
    records.forEach((record, i) => {
      assert.ok(t.server.frames[i].bytes.length > 4095 - 8, "uses the room it has");
      assert.ok(record.content.endsWith("\u2026") && long[i].startsWith(record.content.slice(0, -1)), `prefix ${i}`);
    });
  } finally {
    await t.stop();
  }
});

// String.prototype.toWellFormed needs Node 20; Debian 12 ships Node 18.
const LONE_SURROGATE = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/;

test("payload stays within 4095 bytes at every length around the limit", () => {
  const { Plugin } = loadPlugin();
  const longNames = { displayName: "名前".repeat(400), serverName: "s".repeat(900) };
  for (const unit of ["a", "é", "あ", "😀", "\"", "\n", "\u0007", "\uD83D"]) {
    const size = Buffer.byteLength(JSON.stringify(unit)) - 2;
    for (let count = Math.floor(3900 / size); count <= 4100 / size; count += 1) {
      for (const names of [{ displayName: "D" }, longNames]) {
        const json = Plugin.buildPayload({ ...names, content: unit.repeat(count) });
        assert.ok(Buffer.byteLength(json) <= 4095, `${JSON.stringify(unit)} x${count}`);
        const { content, displayName } = JSON.parse(json);
        assert.ok(!LONE_SURROGATE.test(content), "no half surrogate pair");
        assert.ok(!content.includes("\u0007") && Buffer.byteLength(displayName) <= 256);
      }
    }
  }
  const text = "line\none \"q\" \\ tab\t/";
  assert.equal(JSON.parse(Plugin.buildPayload({ displayName: "D", content: text })).content, text);
});

test("settings panel: choices that persist", { timeout: 20000 }, async () => {
  const t = await startedPlugin();
  try {
    const panel = t.plugin.getSettingsPanel();
    for (const [words, checked] of [["Direct messages", false], ["Raid Night", true]]) {
      const box = findCheckbox(panel, words);
      box.checked = checked;
      box.on.change();
    }
    t.plugin.stop();
    t.plugin = new t.Plugin({ name: "Tallybell" }); // Discord restarted
    t.plugin.start();
    await waitUntil(() => t.plugin.link.connected, 5000, "the new instance to connect");
    const records = await framesFor(t, [messageAction({ channelId: "dm-1", content: "dm, now off" }),
      messageAction({ channelId: "c-general", guildId: "g1", content: "server, now on" })], 1);
    assert.deepEqual(records.map((r) => r.content), ["server, now on"]);
  } finally {
    await t.stop();
  }
});

test("unusable stored settings fall back to the defaults", () => {
  const { plugin } = loadPlugin({ settings: { directMessages: "no", mentions: false, allMessagesServers: ["g2", 7], port: 1e6 } });
  assert.deepEqual(pick(plugin.settings, ["directMessages", "mentions", "allMessagesServers", "port"]),
    { directMessages: true, mentions: false, allMessagesServers: ["g2"], port: 47523 });
});
