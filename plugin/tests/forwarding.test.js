// Which messages reach Voxmere and what their frames hold, checked at a real WebSocket server.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const { ME, FRIEND, loadPlugin, startServer, waitUntil, sleep, messageAction, findElement, findCheckbox } = require("./harness");

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
// Defaults, with server g2 chosen for all messages. Rows with `sent` must arrive, in order.
const CASES = [
  { sent: true, name: "direct message", channelId: "dm-1", content: "日本語のメッセージ 🎮👍🏽" },
  { sent: true, name: "group direct message", channelId: "gdm-1" },
  { name: "own message", channelId: "dm-1", author: me },
  { name: "local echo of a send", channelId: "dm-1", optimistic: true },
  { name: "muted direct message", channelId: "dm-muted" },
  { name: "blocked user", channelId: "dm-1", author: { id: "666", username: "troll" } },
  { name: "join notice", channelId: "dm-1", type: 7 },
  { sent: true, name: "mention", channelId: "c-general", guildId: "g1", mentions: [me], content: "<@100> ready? ||boss dies||",
    shown: "@Me ready? [spoiler]" },
  { sent: true, name: "mention of own role", channelId: "c-general", guildId: "g1", mentionRoles: ["r1"] },
  { name: "mention of another role", channelId: "c-general", guildId: "g1", mentionRoles: ["r2"] },
  { sent: true, name: "@everyone", channelId: "c-general", guildId: "g1", everyone: true },
  { name: "server message", channelId: "c-general", guildId: "g1" },
  { sent: true, name: "chosen server", channelId: "c-chosen", guildId: "g2", author: { id: "300", username: "someone" } },
  { name: "muted channel of a chosen server", channelId: "c-muted", guildId: "g2" },
  { name: "muted category of a chosen server", channelId: "c-in-cat", guildId: "g2" },
  { sent: true, name: "mention in a muted channel", channelId: "c-muted", guildId: "g2", mentions: [me] },
  { name: "@everyone in a muted server", channelId: "c-mg", guildId: "g-muted", everyone: true },
  { name: "channel being read in focus", channelId: "dm-1", reading: true, focused: true },
  { sent: true, name: "channel being read, Discord in the background", channelId: "dm-1", reading: true },
];

test("forwards what deserves a card and nothing else", { timeout: 20000 }, async () => {
  const t = await startedPlugin({ allMessagesServers: ["g2"] });
  try {
    for (const row of CASES) {
      t.discord.state.focused = !!row.focused;
      t.discord.state.selected = row.reading ? row.channelId : null;
      t.discord.dispatcher.dispatch(messageAction({ content: row.name, ...row }));
    }
    const expected = CASES.filter((row) => row.sent).map((row) => row.shown ?? row.content ?? row.name);
    const records = await framesFor(t, [], expected.length);
    assert.deepEqual(records.map((r) => r.content), expected);
    assert.deepEqual(records[0], { username: "friend", displayName: "Friend", content: "日本語のメッセージ 🎮👍🏽",
      avatarUrl: "https://cdn.discordapp.com/avatars/200/f00d.png", channelName: "", serverName: "", avatarHash: "f00d", userId: "200" });
    assert.deepEqual([records[2].displayName, records[2].channelName, records[2].serverName], ["Captain", "general", "Raid Night"]);
    const chosen = records[5];
    assert.deepEqual([chosen.displayName, chosen.serverName, chosen.avatarHash], ["someone", "ゲーム部", ""]);
    assert.match(chosen.avatarUrl, /^https:\/\/cdn\.discordapp\.com\/embed\/avatars\/[0-5]\.png$/);
  } finally {
    await t.stop();
  }
});

test("long content is cut to fit, at a whole character", { timeout: 20000 }, async () => {
  const t = await startedPlugin();
  try {
    const long = ["あ".repeat(3000), "😀".repeat(1500), "\"\\\n".repeat(2000), "é🎮日a".repeat(700)];
    const records = await framesFor(t, long.map((content) => messageAction({ channelId: "dm-1", content })), long.length);
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

test("settings panel: test button, and choices that persist", { timeout: 20000 }, async () => {
  const t = await startedPlugin();
  try {
    const panel = t.plugin.getSettingsPanel();
    findElement(panel, (e) => e.tag === "button" && e.textContent === "Send test notification").on.click();
    const [test] = await framesFor(t, [], 1);
    assert.deepEqual([test.displayName, test.userId, t.toasts.at(-1)], ["Tallybell", ME.id, "success"]);

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
      messageAction({ channelId: "c-general", guildId: "g1", content: "server, now on" })], 2);
    assert.deepEqual(records.slice(1).map((r) => r.content), ["server, now on"]);
  } finally {
    await t.stop();
  }
});

test("unusable stored settings fall back to the defaults", () => {
  const { plugin } = loadPlugin({ settings: { directMessages: "no", mentions: false, allMessagesServers: ["g2", 7], port: 1e6 } });
  assert.deepEqual(plugin.settings, { directMessages: true, mentions: false, focusedChannel: false, allMessagesServers: ["g2"], port: 47523 });
});
