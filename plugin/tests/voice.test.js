// The voice feed as Voxmere receives it over a real WebSocket, and how the plugin finds Voxmere.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { execFileSync } = require("node:child_process");
const { ME, sockets, loadPlugin, panelOf, startServer, waitUntil } = require("./harness");

// Voxmere's side of the wire: every frame strict UTF-8 within 4096 bytes; a list once all its parts came
// (in order), a member put before the one named, a ring for a member it has. `heard` summarises each
// message ("list", "add 250", "change 200", "remove 250", "200 speaks", "end").
function voxmere() {
  const model = { list: null, heard: [], lastSeq: 0, open: null };
  model.take = ({ bytes, isBinary }) => {
    assert.ok(!isBinary && bytes.length <= 4096, `${bytes.length} bytes`);
    const message = JSON.parse(new TextDecoder("utf-8", { fatal: true }).decode(bytes));
    if (message.kind === "probe") return;
    if (message.seq !== undefined) {
      assert.ok(message.seq >= model.lastSeq, `seq ${message.seq} after ${model.lastSeq}`);
      model.lastSeq = message.seq;
    }
    const members = () => model.list.members;
    const at = (id) => members().findIndex((m) => m.id === id);
    if (message.kind === "voice" && message.live === false) {
      model.list = null;
      model.heard.push("end");
    } else if (message.kind === "voice") {
      if (message.part === 0) model.open = { ...message, members: [] };
      assert.deepEqual([message.seq, message.part, message.parts], [model.open.seq, model.open.members.seen || 0, model.open.parts]);
      model.open.members.push(...message.members);
      model.open.members.seen = message.part + 1;
      if (message.part + 1 === message.parts) {
        model.list = { channel: message.channel, self_id: message.self_id, members: [...model.open.members] };
        model.heard.push("list");
      }
    } else if (message.kind === "member") {
      assert.ok(model.list && bytes.length <= 2048, `a member message of ${bytes.length} bytes for a list Voxmere has`);
      const id = message.op === "remove" ? message.id : message.member.id;
      assert.equal(at(id) >= 0, message.op !== "add", `${message.op} ${id}`);
      if (at(id) >= 0) members().splice(at(id), 1);
      if (message.op !== "remove") {
        assert.ok(message.before === null || at(message.before) >= 0, `before ${message.before}`);
        members().splice(message.before === null ? members().length : at(message.before), 0, message.member);
      }
      model.heard.push(`${message.op} ${id}`);
    } else if (message.kind === "speaking") {
      assert.ok(model.list && at(message.user_id) >= 0, `ring of ${message.user_id}`);
      members()[at(message.user_id)].speaking = message.speaking;
      model.heard.push(`${message.user_id} ${message.speaking ? "speaks" : "stops"}`);
    } else {
      assert.fail(`unknown kind ${message.kind}`);
    }
  };
  return model;
}

// The list as "channel: name flags, ..."; "mine" is a member the user muted for themselves.
const FLAGS = ["mute", "local_mute", "deaf", "live", "video", "speaking"];
const FLAG_WORDS = { mute: "muted", local_mute: "mine" };
const shown = (list) => (list ? `${list.channel ? list.channel.id : "none"}: ` + list.members.map((m) =>
  [m.name, ...FLAGS.filter((flag) => m[flag]).map((flag) => FLAG_WORDS[flag] || flag)].join(" ")).join(", ") : "no list");

// A plugin under the stand-in, connected to a server whose frames feed the model, and the stores' reads counted.
async function feed({ settings = {}, layout, setUp = () => {} } = {}) {
  const server = await startServer();
  const t = { ...loadPlugin({ settings: { port: server.port, ...settings }, layout }), server, model: voxmere(), reads: 0 };
  setUp(t.discord);
  t.sync = () => { const s = t.server; s.seen = s.seen || 0; while (s.seen < s.voice.length) t.model.take(s.voice[s.seen++]); };
  for (const [store, method] of [["VoiceStateStore", "getVoiceStatesForChannel"], ["UserStore", "getUser"], ["GuildMemberStore", "getMember"],
    ["ChannelStore", "getChannel"], ["SelectedChannelStore", "getVoiceChannelId"]]) {
    const found = BdApi.Webpack.getStore(store);
    if (!found) continue;
    const real = found[method];
    found[method] = (...args) => { t.reads += 1; return real(...args); };
  }
  // Frames on one socket arrive in order: once this one is in, everything sent before it is too.
  t.probe = async () => {
    const socket = sockets.at(-1), mark = `{"kind":"probe","n":${Math.random()}}`;
    socket.send(mark);
    await waitUntil(() => t.server.voice.some(({ bytes }) => String(bytes) === mark), 5000, "the probe");
    t.sync();
  };
  t.stop = async () => { t.plugin.stop(); await t.server.close(); };
  t.plugin.start();
  return t;
}

const states = (channelId, guildId, ...rows) => ({ type: "VOICE_STATE_UPDATES", voiceStates: rows.map(([userId, fields]) => ({ userId, channelId, guildId, ...fields })) });
const speaking = (userId, speakingFlags, context = "default") => ({ type: "SPEAKING", userId, speakingFlags, context });
const sound = (edge, userId) => ({ type: `GUILD_SOUNDBOARD_SOUND_PLAY_${edge}`, userId, soundId: "42", guildId: "g3" });
const select = (channelId, guildId = channelId && "g3") => ({ type: "VOICE_CHANNEL_SELECT", guildId, channelId });

// Each step's actions, dispatched as Discord would; what Voxmere then heard, nothing more, and the list it
// has. Rows with `rebuild` wait for the list to be read again; `reads` bounds how often the stores were read.
// Discord's order: streaming first, then the name lower-cased (server nickname, else the user's own name;
// in a call not the friend nickname), then the id. Bots go after people only in Voxmere.
const STEPS = [
  { name: "a member joins", actions: [states("v-in", "g3", ["250"])], rebuild: 1, heard: ["add 250"], list: "v-in: Me, Pilot, Quinn" },
  { name: "a bot joins deafened by the server", actions: [states("v-in", "g3", ["300", { deaf: true }])], rebuild: 1, heard: ["add 300"],
    list: "v-in: bot_dj deaf, Me, Pilot, Quinn" },
  { name: "a member mutes", actions: [states("v-in", "g3", ["200", { selfMute: true }])], rebuild: 1, heard: ["change 200"],
    list: "v-in: bot_dj deaf, Me, Pilot muted, Quinn" },
  { name: "suppressed (AFK, no Speak permission)", actions: [states("v-in", "g3", ["250", { suppress: true }])], rebuild: 1, heard: ["change 250"],
    list: "v-in: bot_dj deaf, Me, Pilot muted, Quinn muted" },
  { name: "the user mutes a member for themselves", actions: [{ type: "AUDIO_TOGGLE_LOCAL_MUTE", context: "default", userId: "300" }], rebuild: 1,
    heard: ["change 300"], list: "v-in: bot_dj mine deaf, Me, Pilot muted, Quinn muted" },
  { name: "the user mutes: the engine at once", actions: [{ type: "AUDIO_TOGGLE_SELF_MUTE", context: "default" }], rebuild: 1,
    heard: ["change 100"], list: "v-in: bot_dj mine deaf, Me muted, Pilot muted, Quinn muted" },
  { name: "the server's echo changes nothing", actions: [states("v-in", "g3", [ME.id, { selfMute: true }])], rebuild: 1, heard: [] },
  { name: "speaking touches one member", actions: [speaking("200", 1)], heard: ["200 speaks"], reads: 0 },
  { name: "soundshare lights the ring", actions: [speaking("250", 2)], heard: ["250 speaks"], reads: 0 },
  { name: "priority speech", actions: [speaking("250", 5)], heard: [], reads: 0 },
  { name: "a Go Live stream's own sound", actions: [speaking("300", 1, "stream"), { type: "RTC_CONNECTION_STATE", state: "RTC_CONNECTED",
    channelId: "v-in", streamKey: "guild:g3:v-in:250" }], heard: [], reads: 0 },
  { name: "a soundboard sound", actions: [sound("START", "300"), sound("START", "300"), sound("END", "300")], heard: ["300 speaks"], reads: 0,
    list: "v-in: bot_dj mine deaf speaking, Me muted, Pilot muted speaking, Quinn muted speaking" },
  { name: "the sound ends", actions: [sound("END", "300"), speaking("200", 0)], heard: ["300 stops", "200 stops"], reads: 0 },
  { name: "Go Live goes first", actions: [states("v-in", "g3", ["250", { suppress: true, selfStream: true }])], rebuild: 1, heard: ["change 250"],
    list: "v-in: Quinn muted live speaking, bot_dj mine deaf, Me muted, Pilot muted" },
  { name: "camera", actions: [states("v-in", "g3", ["200", { selfMute: true, selfVideo: true }])], rebuild: 1, heard: ["change 200"],
    list: "v-in: Quinn muted live speaking, bot_dj mine deaf, Me muted, Pilot muted video" },
  { name: "a nick change after the list moves the member", actions: [{ type: "GUILD_MEMBER_UPDATE", guildId: "g3", user: { id: "200" }, nick: "Ace" }],
    rebuild: 1, heard: ["change 200"], list: "v-in: Quinn muted live speaking, Ace muted video, bot_dj mine deaf, Me muted" },
  { name: "a member change in another server", actions: [{ type: "GUILD_MEMBER_UPDATE", guildId: "g1", user: { id: "250" }, nick: "Nope" }], heard: [] },
  { name: "a new global name", actions: [{ type: "USER_UPDATE", user: { id: "250", username: "quinn", global_name: "Quincy", avatar: "q2" } }],
    rebuild: 1, heard: ["change 250"], list: "v-in: Quincy muted live speaking, Ace muted video, bot_dj mine deaf, Me muted" },
  { name: "a burst of one member's changes: one rebuild, one message", actions: Array.from({ length: 30 }, (_, i) =>
    states("v-in", "g3", ["200", { selfMute: true, selfVideo: i % 2 === 0 }])), rebuild: 1, reads: 12, heard: ["change 200"],
    list: "v-in: Quincy muted live speaking, Ace muted, bot_dj mine deaf, Me muted" },
  { name: "a record whose store throws", actions: [states("v-in", "g3", ["500"]), states(null, "g3", ["500"])], rebuild: 1, heard: [] },
  { name: "a member leaves", actions: [states(null, "g3", ["300"])], rebuild: 1, heard: ["remove 300"],
    list: "v-in: Quincy muted live speaking, Ace muted, Me muted" },
  { name: "a passive update", actions: [{ type: "PASSIVE_UPDATE_V2", guildId: "g3", voiceStates: [{ userId: "300", channelId: "v-in", deaf: true }],
    removedVoiceStateUsers: ["250"] }], rebuild: 1, heard: ["remove 250", "add 300"], list: "v-in: Ace muted, bot_dj mine deaf, Me muted" },
  { name: "a stage: the user's state moves at once; audience and raised hands are muted", before: (d) => {
    d.voice.put({ userId: "250", channelId: "stage", suppress: true }); d.voice.put({ userId: "300", channelId: "stage", requestToSpeakTimestamp: "2026-02-01T10:00:00Z" }); },
  actions: [speaking("250", 0), select("stage")], rebuild: 1, heard: ["list"], list: "stage: bot_dj muted mine, Me muted, Quincy muted" },
  { name: "a channel renamed", actions: [{ type: "CHANNEL_UPDATES", channels: [{ id: "stage", name: "Town Hall, later" }] }], rebuild: 1, heard: ["list"] },
  { name: "a DM call: the call brings no states; they follow", actions: [select("dm-1", null), { type: "CALL_CREATE", channelId: "dm-1" },
    states("dm-1", null, ["200"])], rebuild: 1, heard: ["list"], list: "dm-1: Bestie, Me muted" },
  { name: "a friend nickname", actions: [{ type: "RELATIONSHIP_UPDATE", relationship: { id: "200", type: 1, nickname: "Buddy" } }], rebuild: 1,
    heard: ["change 200"], list: "dm-1: Buddy, Me muted" },
  { name: "in a call the order follows the user's own name", actions: [{ type: "USER_UPDATE", user: { id: "200", username: "friend", global_name: "Zed", avatar: "f00d" } }],
    rebuild: 1, heard: ["change 200"], list: "dm-1: Me muted, Buddy" },
  { name: "the user unmutes", actions: [{ type: "AUDIO_TOGGLE_SELF_MUTE", context: "default" }], rebuild: 1, heard: ["change 100"], list: "dm-1: Me, Buddy" },
  { name: "back to a server", actions: [select("v-out"), states("v-out", "g3", ["250"])], rebuild: 1, heard: ["list"], list: "v-out: Me, Quincy" },
  { name: "the server removed", actions: [{ type: "GUILD_DELETE", guild: { id: "g3" } }], rebuild: 1, heard: ["list"], list: "none: " },
  { name: "leaving voice", actions: [select(null, null)], rebuild: 1, heard: [] },
];

test("feeds Voxmere the voice channel as Discord's own list shows it, one change at a time", { timeout: 60000 }, async () => {
  const t = await feed({ setUp: (d) => {
    [ME.id, "200"].forEach((userId) => d.voice.put({ userId, channelId: "v-in" }));
    Object.assign(d.state, { voice: "v-in", rtc: "v-in" });
  } });
  try {
    await waitUntil(() => t.plugin.link.connected && t.server.voice.length > 0, 5000, "the first list");
    await t.probe();
    assert.deepEqual([t.model.heard, t.model.list.channel, t.model.list.self_id, t.model.list.members[1]], [["list"],
      { id: "v-in", guild_id: "g3", type: 2, name: "Voice A" }, ME.id, { id: "200", name: "Pilot", avatar: "f00d", guild_avatar: "7e57", bot: false,
        mute: false, local_mute: false, deaf: false, live: false, video: false, speaking: false }]);
    for (const step of STEPS) {
      const heard = t.model.heard.length, reads = t.reads;
      if (step.before) step.before(t.discord);
      step.actions.forEach((action) => assert.doesNotThrow(() => t.discord.dispatcher.dispatch(action), step.name));
      if (step.rebuild) await waitUntil(() => t.reads > reads, 5000, `${step.name}: the stores read again`);
      await t.probe();
      assert.deepEqual(t.model.heard.slice(heard), step.heard, step.name);
      if (step.list) assert.equal(shown(t.model.list), step.list, step.name);
      if (step.reads !== undefined) assert.ok(t.reads - reads <= step.reads, `${step.name}: ${t.reads - reads} store reads`);
    }
    const bytes = t.server.voice.length;
    t.plugin.stop();
    await waitUntil(() => t.server.voice.length > bytes, 5000, "the feed's end");
    t.sync();
    assert.deepEqual([t.model.heard.at(-1), t.discord.dispatcher.count()], ["end", 0], "the end said, every listener removed");
  } finally {
    await t.stop();
  }
});

// Random renames (to names equal but for case, too), streams, joins and departures, a few at a time: after
// each round Voxmere's list, kept up by member messages, is the one a whole list then brings.
test("member changes leave Voxmere with the list a whole list would bring", { timeout: 60000 }, async () => {
  let seed = 35;
  const random = (n) => { seed = (seed * 1103515245 + 12345) % 2147483648; return seed % n; };
  const NAMES = ["ann", "Ann", "bo", "Bo", "carl", "ann b", "Émile", "zoë", "ゲーム", "Carl"];
  const ids = Array.from({ length: 30 }, (_, i) => String(5000 + i));
  const inChannel = new Set(ids.slice(0, 20));
  const t = await feed({ setUp: (d) => {
    ids.forEach((id, i) => d.addUser({ id, username: `user${i}`, globalName: NAMES[i % NAMES.length] }));
    [ME.id, ...inChannel].forEach((userId) => d.voice.put({ userId, channelId: "v-in" }));
    Object.assign(d.state, { voice: "v-in", rtc: "v-in" });
  } });
  const ACTIONS = [
    (id) => ({ type: "GUILD_MEMBER_UPDATE", guildId: "g3", user: { id }, nick: random(3) ? NAMES[random(NAMES.length)] : null }),
    (id) => (inChannel.has(id) ? states("v-in", "g3", [id, { selfStream: !!random(2) }]) : null),
    (id) => { const joins = !inChannel.has(id); if (joins) inChannel.add(id); else inChannel.delete(id); return states(joins ? "v-in" : null, "g3", [id]); },
  ];
  try {
    await waitUntil(() => t.plugin.link.connected && t.server.voice.length > 0, 5000, "the first list");
    let memberMessages = 0;
    for (let round = 0; round < 40; round += 1) {
      const heard = t.model.heard.length, reads = t.reads;
      for (let n = 1 + random(3); n > 0;) {
        const action = ACTIONS[random(ACTIONS.length)](ids[random(ids.length)]);
        if (action) t.discord.dispatcher.dispatch(action), n -= 1;
      }
      await waitUntil(() => t.reads > reads, 5000, `round ${round}: the stores read again`);
      await t.probe();
      memberMessages += t.model.heard.slice(heard).filter((word) => word !== "list").length;
      const kept = JSON.stringify(t.model.list.members);
      t.plugin.voice.resend();
      await t.probe();
      assert.deepEqual([t.model.heard.at(-1), JSON.stringify(t.model.list.members)], ["list", kept], `round ${round}`);
    }
    assert.ok(memberMessages > 20, `${memberMessages} member messages`);
  } finally {
    await t.stop();
  }
});

// 99 members with long names; the voice store loads only after the plugin started, and no action follows.
test("a full channel goes in parts; a late store, the switch, many joining at once and a Voxmere restart each send it whole",
  { timeout: 30000 }, async () => {
    const ids = Array.from({ length: 98 }, (_, i) => String(1000 + i));
    const name = (i) => `${"ゲーマー\"".repeat(6)}${String(i).padStart(2, "0")}`;
    const t = await feed({ layout: { lateStores: ["VoiceStateStore"] }, setUp: (d) => {
      ids.forEach((id, i) => d.addUser({ id, username: `u${i}`, globalName: name(i), avatar: `a_${"f".repeat(30)}${i}` }));
      [ME.id, ...ids].forEach((userId) => d.voice.put({ userId, channelId: "v-in", selfMute: userId === "1050" }));
      Object.assign(d.state, { voice: "v-in", rtc: "v-in" });
    } });
    const panelText = () => panelOf(t.plugin).status();
    const lists = () => t.model.heard.filter((word) => word === "list").length;
    try {
      await waitUntil(() => t.plugin.link.connected, 5000, "connection");
      await t.probe();
      assert.ok(t.model.heard.length === 0 && panelText().includes("VoiceStateStore.getVoiceStatesForChannel was not found"), panelText());
      t.discord.loadLate();
      await waitUntil(() => (t.sync(), lists() === 1), 6000, "the list once the store is there");
      const parts = t.server.voice.filter(({ bytes }) => String(bytes).startsWith('{"kind":"voice"')).length;
      assert.ok(parts >= 5, `${parts} parts`);
      const { members } = t.model.list;
      assert.deepEqual(members.map((m) => m.id), [ME.id, ...ids]);
      assert.deepEqual([members[51].name, members[51].mute, members[98].avatar], [name(50), true, `a_${"f".repeat(30)}97`]);
      assert.ok(!panelText().includes("not found"), panelText());

      const panel = panelOf(t.plugin);
      panel.toggle("voiceFeed", false, null);
      await t.probe();
      assert.equal(t.model.heard.at(-1), "end");
      assert.equal(t.discord.dispatcher.count("SPEAKING") + t.discord.dispatcher.count("VOICE_STATE_UPDATES"), 0);
      panel.toggle("voiceFeed", true, null);
      await waitUntil(() => (t.sync(), lists() === 2), 5000, "the list after the switch");

      const joining = Array.from({ length: 120 }, (_, i) => String(2000 + i));
      joining.forEach((id) => t.discord.addUser({ id, username: `late${id}`, globalName: `Late ${id}` }));
      t.discord.dispatcher.dispatch(states("v-in", "g3", ...joining.map((id) => [id])));
      await waitUntil(() => (t.sync(), lists() === 3), 5000, "the list when most of it is new");
      assert.equal(t.model.list.members.length, 219);

      const port = t.server.port, seq = t.model.lastSeq;
      await t.server.close();
      await waitUntil(() => !t.plugin.link.connected, 5000, "the plugin to notice");
      t.server = await startServer(port);
      t.model = voxmere();
      await waitUntil(() => (t.sync(), t.model.list && t.model.list.members.length === 219), 8000, "the list after reconnecting");
      assert.ok(t.model.lastSeq > seq, "seq goes on across connections");
    } finally {
      await t.stop();
    }
  });

// The endpoint file as Voxmere keeps it: written once it listens, deleted when it exits; the plugin's reads
// of it counted, and what it says in Discord's console collected.
test("finds Voxmere through its endpoint file, quietly", { timeout: 60000 }, async () => {
  const folder = path.join(fs.mkdtempSync(path.join(os.tmpdir(), "voxmere-appdata-")), "Voxmere");
  const file = path.join(folder, "endpoint.json");
  const write = (endpoint) => { fs.mkdirSync(folder, { recursive: true }); fs.writeFileSync(`${file}.tmp`, endpoint); fs.renameSync(`${file}.tmp`, file); };
  const realRead = fs.readFileSync;
  let reads = 0;
  fs.readFileSync = (name, ...rest) => { if (name === file) reads += 1; return realRead(name, ...rest); };
  const readAgain = async (what, change) => { const before = reads; change(); await waitUntil(() => reads > before, 5000, what); };
  const attempts = () => sockets.length;
  let server = await startServer();
  // The voice channel selected when Discord last closed, which this client has not joined, is no channel.
  // Settings saved by an earlier version carry its default port, which must not bypass the file.
  const { plugin, logs } = loadPlugin({ settings: { endpointFile: file, port: 47523 } });
  try {
    const before = attempts();
    plugin.start();
    assert.equal(attempts(), before, "no attempt while there is no file");
    const dead = execFileSync(process.execPath, ["-e", "process.stdout.write(String(process.pid))"]).toString();
    await readAgain("a file left by a Voxmere that is gone", () => write(JSON.stringify({ port: server.port, pid: Number(dead), version: "1.1.0" })));
    await readAgain("a file that names no port", () => write("{\"port\": \"47523\""));
    await readAgain("the same text again", () => {});
    assert.deepEqual([attempts(), logs.filter((entry) => entry.text.includes("names no port")).length], [before, 1], "neither is tried; the bad file said once");

    const startedAt = Date.now();
    write(JSON.stringify({ port: server.port, pid: process.pid, version: "1.1.0" }));
    await waitUntil(() => plugin.link.connected, 5000, "Voxmere found within 5 s");
    assert.ok(Date.now() - startedAt < 5000 && server.origins.length === 1, "connected to the port the file names");
    await waitUntil(() => server.voice.length > 0, 5000, "the feed's first list");
    assert.deepEqual([JSON.parse(server.voice[0].bytes).channel, JSON.parse(server.voice[0].bytes).members], [null, []]);

    // Voxmere crashes: the file stays. One more try, then nothing until the file changes.
    const afterCrash = attempts();
    await server.close();
    await waitUntil(() => attempts() === afterCrash + 1 && sockets.at(-1).readyState === 3, 5000, "one attempt after the drop to fail");
    await readAgain("the file read again", () => {});
    await readAgain("and again", () => {});
    assert.equal(attempts(), afterCrash + 1, "no storm of attempts");
    assert.equal(logs.filter((entry) => entry.text.includes("not reachable")).length, 1, "one line, not one per attempt");

    // Voxmere starts again on another port and rewrites the file; then exits and deletes it.
    server = await startServer();
    write(JSON.stringify({ port: server.port, pid: process.pid, version: "1.1.0" }));
    await waitUntil(() => plugin.link.connected && server.origins.length === 1, 5000, "the new port found within 5 s");
    const afterExit = attempts();
    fs.unlinkSync(file);
    await server.close();
    await waitUntil(() => !plugin.link.connected, 5000, "the plugin to notice");
    await readAgain("the look after the drop", () => {});
    assert.equal(attempts(), afterExit, "no attempt once the file is gone");
  } finally {
    plugin.stop();
    fs.readFileSync = realRead;
    await server.close();
  }
});
