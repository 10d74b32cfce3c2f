// The plugin under the stand-in of Discord, feeding a real Voxmere.exe: in "v-in" of server g3 with Pilot
// (200, server-muted, a server avatar), Quinn (250) and the bot (300). The plugin finds Voxmere through the
// endpoint file given, or at the port given. Commands come one a line on standard input; "DONE <command>"
// follows each on standard output.
//   node voice_driver.js PORT | ENDPOINT_FILE
// Commands (ID a user id; "off" undoes a state):
//   speak ID, silent ID             voice ring on, off
//   soundshare ID                   soundshare ring on ("silent ID" ends it)
//   soundboard ID, soundboard-end ID  a soundboard sound starts, ends
//   suppress ID [off], live ID [off], video ID [off], hand ID [off], mute ID [off], deaf ID [off]
//                                   suppressed, Go Live, camera, a raised hand, server mute, server deafen
//   local-mute ID                   the user mutes (again: unmutes) that member for themselves
//   self-mute, self-deaf            the user's own toggles, in the media engine first
//   nick ID NAME...                 a new server nickname
//   leave ID, leave-voice, rejoin, stop
"use strict";

const readline = require("node:readline");
const { ME, loadPlugin, waitUntil } = require("./harness");

const where = process.argv[2] || "";
const settings = /^\d+$/.test(where) ? { port: Number(where) } : { endpointFile: where };
const { plugin, discord } = loadPlugin({ settings });
const put = (userId, fields = {}) => discord.voice.put({ userId, channelId: "v-in", guildId: "g3", ...fields });
[ME.id, "200", "250", "300"].forEach((userId) => put(userId, userId === "200" ? { mute: true } : {}));
Object.assign(discord.state, { voice: "v-in", rtc: "v-in" });
const dispatch = (action) => discord.dispatcher.dispatch(action);
const states = (...rows) => ({ type: "VOICE_STATE_UPDATES", voiceStates: rows.map(([userId, channelId]) => ({ userId, channelId, guildId: "g3" })) });
const speaking = (id, speakingFlags) => dispatch({ type: "SPEAKING", userId: id, speakingFlags, context: "default" });
// One field of the member's voice state, the others kept, as the server sends a changed state whole.
const FIELDS = { suppress: "suppress", live: "selfStream", video: "selfVideo", mute: "mute", deaf: "deaf", hand: "requestToSpeakTimestamp" };
const setField = (field) => (id, off) => {
  const current = discord.voice.forChannel("v-in")[id] || { userId: id, channelId: "v-in" };
  const on = off !== "off";
  const value = field === "requestToSpeakTimestamp" ? (on ? new Date().toISOString() : null) : on;
  dispatch({ type: "VOICE_STATE_UPDATES", voiceStates: [{ ...current, guildId: "g3", [field]: value }] });
};

const COMMANDS = {
  speak: (id) => speaking(id, 1),
  silent: (id) => speaking(id, 0),
  soundshare: (id) => speaking(id, 2),
  soundboard: (id) => dispatch({ type: "GUILD_SOUNDBOARD_SOUND_PLAY_START", userId: id, soundId: "1", guildId: "g3" }),
  "soundboard-end": (id) => dispatch({ type: "GUILD_SOUNDBOARD_SOUND_PLAY_END", userId: id, soundId: "1", guildId: "g3" }),
  ...Object.fromEntries(Object.entries(FIELDS).map(([name, field]) => [name, setField(field)])),
  "local-mute": (id) => dispatch({ type: "AUDIO_TOGGLE_LOCAL_MUTE", context: "default", userId: id }),
  "self-mute": () => dispatch({ type: "AUDIO_TOGGLE_SELF_MUTE", context: "default" }),
  "self-deaf": () => dispatch({ type: "AUDIO_TOGGLE_SELF_DEAF", context: "default" }),
  // The update carries the whole member, its server avatar too.
  nick: (id, ...name) => dispatch({ type: "GUILD_MEMBER_UPDATE", guildId: "g3", user: { id }, nick: name.join(" ") || null,
    avatar: (BdApi.Webpack.getStore("GuildMemberStore").getMember("g3", id) || {}).avatar ?? null }),
  leave: (id) => dispatch(states([id, null])),
  "leave-voice": () => dispatch({ type: "VOICE_CHANNEL_SELECT", guildId: null, channelId: null }),
  rejoin: () => {
    dispatch({ type: "VOICE_CHANNEL_SELECT", guildId: "g3", channelId: "v-in" });
    dispatch(states([ME.id, "v-in"]));
  },
  stop: () => plugin.stop(),
};

plugin.start();
waitUntil(() => plugin.link.connected, 30000, "Voxmere's WebSocket").then(() => {
  console.log("CONNECTED");
  readline.createInterface({ input: process.stdin }).on("line", (line) => {
    const [name, ...args] = line.trim().split(/\s+/);
    if (COMMANDS[name]) COMMANDS[name](...args);
    else console.log(`UNKNOWN ${name}`);
    console.log(`DONE ${line.trim()}`);
  }).on("close", () => { plugin.stop(); setTimeout(() => process.exit(0), 500); });
}, (error) => { console.log(`FAILED ${error.message}`); process.exit(1); });
