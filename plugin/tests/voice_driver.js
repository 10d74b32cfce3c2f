// The plugin under the stand-in of Discord, feeding a real Voxmere.exe on the given port: in "v-in" of
// server g3 with Pilot (200, server-muted, a server avatar), Quinn (250) and the bot (300). Commands
// come one a line on standard input; "DONE <command>" follows each on standard output.
//   node voice_driver.js PORT
"use strict";

const readline = require("node:readline");
const { ME, loadPlugin, waitUntil } = require("./harness");

const port = Number(process.argv[2]);
const { plugin, discord } = loadPlugin({ settings: { port } });
const put = (userId, fields = {}) => discord.voice.put({ userId, channelId: "v-in", guildId: "g3", ...fields });
[ME.id, "200", "250", "300"].forEach((userId) => put(userId, userId === "200" ? { mute: true } : {}));
Object.assign(discord.state, { voice: "v-in", rtc: "v-in" });
const states = (...rows) => ({ type: "VOICE_STATE_UPDATES", voiceStates: rows.map(([userId, channelId]) => ({ userId, channelId, guildId: "g3" })) });

const COMMANDS = {
  speak: (id) => discord.dispatcher.dispatch({ type: "SPEAKING", userId: id, speakingFlags: 1, context: "default" }),
  silent: (id) => discord.dispatcher.dispatch({ type: "SPEAKING", userId: id, speakingFlags: 0, context: "default" }),
  leave: (id) => discord.dispatcher.dispatch(states([id, null])),
  "leave-voice": () => discord.dispatcher.dispatch({ type: "VOICE_CHANNEL_SELECT", guildId: null, channelId: null }),
  rejoin: () => {
    discord.dispatcher.dispatch({ type: "VOICE_CHANNEL_SELECT", guildId: "g3", channelId: "v-in" });
    discord.dispatcher.dispatch(states([ME.id, "v-in"]));
  },
  stop: () => plugin.stop(),
};

plugin.start();
waitUntil(() => plugin.link.connected, 30000, "Voxmere's WebSocket").then(() => {
  console.log("CONNECTED");
  readline.createInterface({ input: process.stdin }).on("line", (line) => {
    const [name, arg] = line.trim().split(/\s+/);
    if (COMMANDS[name]) COMMANDS[name](arg);
    console.log(`DONE ${line.trim()}`);
  }).on("close", () => { plugin.stop(); setTimeout(() => process.exit(0), 500); });
}, (error) => { console.log(`FAILED ${error.message}`); process.exit(1); });
