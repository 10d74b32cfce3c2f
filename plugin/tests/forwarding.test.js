// Which messages reach Voxmere and what their frames hold, checked at a real WebSocket server.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const { ME, loadPlugin, startServer, waitUntil, messageAction, findElements, findCheckbox } = require("./harness");

const KEYS = ["username", "displayName", "content", "avatarUrl", "channelName", "serverName", "avatarHash", "userId"];
const FATAL_UTF8 = new TextDecoder("utf-8", { fatal: true });

// Each frame must be a text frame of strict UTF-8 JSON, one object with exactly the eight string keys,
// non-ASCII sent as itself, and within the size Voxmere reads.
function decodeFrame(frame) {
  assert.equal(frame.isBinary, false, "text frame");
  assert.ok(frame.bytes.length <= 4095, `frame of ${frame.bytes.length} bytes`);
  const text = FATAL_UTF8.decode(frame.bytes);
  assert.ok(!/\\u[0-9a-fA-F]{4}/.test(text), "no \\u escapes");
  const record = JSON.parse(text);
  assert.deepEqual(Object.keys(record).sort(), [...KEYS].sort());
  for (const key of KEYS) assert.equal(typeof record[key], "string", key);
  return record;
}

async function startedPlugin(options) {
  const server = await startServer();
  const t = { ...loadPlugin({ ...options, settings: { port: server.port, ...(options && options.settings) } }), server };
  t.plugin.start();
  await waitUntil(() => t.plugin.link.connected, 5000, "the plugin to connect");
  t.stop = async () => {
    t.plugin.stop();
    await server.close();
  };
  return t;
}

// Time for a wrongly forwarded message to show up after the expected ones.
const settle = () => new Promise((resolve) => setTimeout(resolve, 300));

const FRIEND = { id: "200", username: "friend", global_name: "Friend", avatar: "f00d" };
const OTHER = { id: "300", username: "someone", global_name: null, avatar: null };
const me = { ...ME };

// Rows with `sent` true must arrive, in order; the others must not.
const CASES = [
  { name: "direct message", sent: true, channelId: "dm-1", content: "日本語のメッセージ 🎮👍🏽" },
  { name: "group direct message", sent: true, channelId: "gdm-1" },
  { name: "own direct message", sent: false, channelId: "dm-1", author: { ...ME } },
  { name: "local echo of a send", sent: false, channelId: "dm-1", optimistic: true },
  { name: "muted direct message", sent: false, channelId: "dm-muted" },
  { name: "blocked user", sent: false, channelId: "dm-1", author: { id: "666", username: "troll" } },
  { name: "join notice", sent: false, channelId: "dm-1", type: 7, content: "" },
  { name: "mention by name", sent: true, channelId: "c-general", guildId: "g1", mentions: [me], content: "<@100> ready?",
    shown: "@Me ready?" },
  { name: "mention of own role", sent: true, channelId: "c-general", guildId: "g1", mentionRoles: ["r1"] },
  { name: "mention of another role", sent: false, channelId: "c-general", guildId: "g1", mentionRoles: ["r2"] },
  { name: "@everyone", sent: true, channelId: "c-general", guildId: "g1", everyone: true },
  { name: "ordinary server message", sent: false, channelId: "c-general", guildId: "g1" },
  { name: "message in a chosen server", sent: true, channelId: "c-chosen", guildId: "g2", author: OTHER },
  { name: "muted channel in a chosen server", sent: false, channelId: "c-muted", guildId: "g2" },
  { name: "muted category in a chosen server", sent: false, channelId: "c-in-cat", guildId: "g2" },
  { name: "mention in a muted channel", sent: true, channelId: "c-muted", guildId: "g2", mentions: [me] },
  { name: "@everyone in a muted server", sent: false, channelId: "c-mg", guildId: "g-muted", everyone: true },
  { name: "mention in a muted server", sent: true, channelId: "c-mg", guildId: "g-muted", mentions: [me] },
  { name: "channel being read, Discord focused", sent: false, channelId: "dm-1", reading: true, focused: true },
  { name: "channel being read, Discord in the background", sent: true, channelId: "dm-1", reading: true, focused: false },
];

test("forwards what deserves a card and nothing else", { timeout: 20000 }, async () => {
  const t = await startedPlugin({ settings: { allMessagesServers: ["g2"] } });
  try {
    const expected = [];
    for (const row of CASES) {
      t.discord.state.focused = !!row.focused;
      t.discord.state.selectedChannelId = row.reading ? row.channelId : "elsewhere";
      t.discord.dispatcher.dispatch(messageAction({ author: FRIEND, ...row, content: row.content ?? row.name }));
      if (row.sent) expected.push(row.shown ?? row.content ?? row.name);
    }
    await t.server.waitFrames(expected.length, 10000);
    await settle();
    const records = t.server.frames.map(decodeFrame);
    assert.deepEqual(records.map((r) => r.content), expected);

    assert.deepEqual(records[0], {
      username: "friend", displayName: "Friend", content: "日本語のメッセージ 🎮👍🏽",
      avatarUrl: "https://cdn.discordapp.com/avatars/200/f00d.png", channelName: "", serverName: "",
      avatarHash: "f00d", userId: "200",
    });
    const mention = records.find((r) => r.content === "@Me ready?");
    assert.equal(mention.displayName, "Captain", "server nickname");
    assert.equal(mention.channelName, "general");
    assert.equal(mention.serverName, "Raid Night");
    const chosen = records.find((r) => r.userId === "300");
    assert.equal(chosen.displayName, "someone", "user name stands in for a missing display name");
    assert.equal(chosen.serverName, "ゲーム部");
    assert.match(chosen.avatarUrl, /^https:\/\/cdn\.discordapp\.com\/embed\/avatars\/[0-5]\.png$/);
  } finally {
    await t.stop();
  }
});

test("long and non-ASCII content is cut to fit, never inside a character", { timeout: 20000 }, async () => {
  const t = await startedPlugin();
  try {
    const contents = ["あ".repeat(3000), "😀".repeat(1500), "x".repeat(5000), "\"\\\n".repeat(2000), "é🎮日a".repeat(700)];
    for (const content of contents) t.discord.dispatcher.dispatch(messageAction({ channelId: "dm-1", author: FRIEND, content }));
    const frames = await t.server.waitFrames(contents.length, 10000);
    frames.forEach((frame, i) => {
      const record = decodeFrame(frame);
      assert.ok(frame.bytes.length > 4095 - 8, `frame ${i} uses the room it has (${frame.bytes.length} bytes)`);
      assert.ok(record.content.endsWith("\u2026"), `frame ${i} is marked as cut`);
      assert.ok(contents[i].startsWith(record.content.slice(0, -1)), `frame ${i} keeps a prefix`);
    });
  } finally {
    await t.stop();
  }
});

test("payload rules hold at every length around the limit", () => {
  const { Plugin } = loadPlugin();
  const units = ["a", "é", "あ", "😀", "\"", "\n", "\u0007", "\uD83D"];
  const long = { displayName: "名前".repeat(400), serverName: "s".repeat(900), channelName: "c" };
  for (const unit of units) {
    const size = Buffer.byteLength(JSON.stringify(unit)) - 2;
    for (let count = Math.floor(3900 / size); count <= Math.ceil(4100 / size); count += 1) {
      for (const extra of [{}, long]) {
        const json = Plugin.buildPayload({ username: "u", displayName: "D", ...extra, content: unit.repeat(count) });
        const bytes = Buffer.byteLength(json);
        assert.ok(bytes <= 4095, `${JSON.stringify(unit)} x${count}: ${bytes} bytes`);
        const record = JSON.parse(json);
        assert.equal(record.content, record.content.toWellFormed(), "no half surrogate pair");
        assert.ok(!record.content.includes("\u0007"), "control characters dropped");
        if (extra === long) assert.ok(Buffer.byteLength(record.displayName) <= 256, "names are capped");
      }
    }
  }
  const short = JSON.parse(Plugin.buildPayload({ displayName: "D", content: "line\none \"q\" \\ tab\t" }));
  assert.equal(short.content, "line\none \"q\" \\ tab\t", "short content is sent unchanged");
});

test("settings panel: test button, switches and servers persist", { timeout: 20000 }, async () => {
  const t = await startedPlugin();
  try {
    const panel = t.plugin.getSettingsPanel();
    const button = findElements(panel, (e) => e.tag === "button" && e.textContent === "Send test notification")[0];
    assert.ok(button, "the panel has the test button");
    button.fire("click");
    const [frame] = await t.server.waitFrames(1);
    const record = decodeFrame(frame);
    assert.equal(record.displayName, "Tallybell");
    assert.equal(record.userId, ME.id);
    assert.equal(t.toasts.at(-1).type, "success");

    findCheckbox(panel, "Direct messages").checked = false;
    findCheckbox(panel, "Direct messages").fire("change");
    const server = findCheckbox(panel, "Raid Night");
    server.checked = true;
    server.fire("change");
    assert.deepEqual(t.data.get("Tallybell/settings").allMessagesServers, ["g1"]);

    // A fresh instance (Discord restarted) reads the stored choices.
    t.plugin.stop();
    const again = new t.Plugin({ name: "Tallybell" });
    again.start();
    t.plugin = again;
    await waitUntil(() => again.link.connected, 5000, "the second instance to connect");
    t.discord.dispatcher.dispatch(messageAction({ channelId: "dm-1", author: FRIEND, content: "dm, now off" }));
    t.discord.dispatcher.dispatch(messageAction({ channelId: "c-general", guildId: "g1", author: FRIEND, content: "server, now on" }));
    await t.server.waitFrames(2);
    await settle();
    assert.deepEqual(t.server.frames.slice(1).map((f) => decodeFrame(f).content), ["server, now on"]);
  } finally {
    await t.stop();
  }
});

test("unusable stored settings fall back to the defaults", () => {
  const { plugin } = loadPlugin({ settings: { directMessages: "no", mentions: false, focusedChannel: 1,
    allMessagesServers: ["g2", 7, null], port: 99999 } });
  const s = plugin.loadSettings();
  assert.deepEqual(s, { directMessages: true, mentions: false, focusedChannel: false, allMessagesServers: ["g2"], port: 47523 });
});
