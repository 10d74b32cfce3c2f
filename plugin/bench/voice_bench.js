// What the voice feed costs Discord, under the stand-in of Discord at 100 and 1000 members: main-thread
// time per SPEAKING action and per rebuild of the list, and the bytes one member's change puts on the wire.
// The socket is a recording stand-in, so only the plugin's own work is timed.
//   node bench/voice_bench.js [plugin file]      (default: assembled from src now)
"use strict";

if (process.argv[2]) process.env.TALLYBELL_PLUGIN = require("node:path").resolve(process.argv[2]);
const { performance } = require("node:perf_hooks");
const { ME, loadPlugin, waitUntil, sleep } = require("../tests/harness");

// Timer callbacks run on Discord's main thread too: their time counts.
let timerMs = 0;
const realSetTimeout = globalThis.setTimeout;
globalThis.setTimeout = (callback, ms, ...args) => realSetTimeout(() => {
  const start = performance.now();
  try { callback(...args); } finally { timerMs += performance.now() - start; }
}, ms);

const wire = [];
class RecordingSocket {
  constructor() { this.readyState = 0; realSetTimeout(() => { this.readyState = 1; this.onopen && this.onopen(); }, 0); }
  send(text) { wire.push(Buffer.byteLength(String(text))); }
  close() { this.readyState = 3; }
}

const percentile = (values, p) => [...values].sort((a, b) => a - b)[Math.min(values.length - 1, Math.floor(values.length * p))];
const fixed = (ms) => ms.toFixed(4);

async function measure(count) {
  const t = loadPlugin({ settings: { port: 1 } });
  globalThis.WebSocket = RecordingSocket;
  const ids = Array.from({ length: count - 1 }, (_, i) => String(10000 + i));
  ids.forEach((id, i) => t.discord.addUser({ id, username: `user${i}`, globalName: `Member ${i}`, avatar: `a${i}` }));
  [ME.id, ...ids].forEach((userId) => t.discord.voice.put({ userId, channelId: "v-in" }));
  Object.assign(t.discord.state, { voice: "v-in", rtc: "v-in" });
  const dispatch = (action) => t.discord.dispatcher.dispatch(action);
  t.plugin.start();
  await waitUntil(() => t.plugin.link.connected && wire.length > 0, 5000, "the first list");
  await sleep(50);

  // SPEAKING: each action flips one member's ring, so each one has something to send.
  const flags = new Map();
  const speakingCosts = [];
  for (let i = 0; i < 3000; i += 1) {
    const id = ids[(i * 7919) % ids.length];
    flags.set(id, flags.get(id) ? 0 : 1);
    const before = timerMs, start = performance.now();
    dispatch({ type: "SPEAKING", userId: id, speakingFlags: flags.get(id), context: "default" });
    speakingCosts.push(performance.now() - start);
    if (timerMs !== before) speakingCosts[speakingCosts.length - 1] += timerMs - before;
    if (i % 200 === 199) await sleep(20);
  }
  await sleep(50);
  const speakingTimers = timerMs;
  timerMs = 0;

  // One member mutes and unmutes: the rebuild's time (in the action or in its timer) and the bytes sent.
  const rebuildCosts = [], changeBytes = [], changeMessages = [];
  for (let i = 0; i < 40; i += 1) {
    const id = ids[(i * 31) % ids.length];
    const sentBefore = wire.length;
    timerMs = 0;
    const start = performance.now();
    dispatch({ type: "VOICE_STATE_UPDATES", voiceStates: [{ userId: id, channelId: "v-in", guildId: "g3", selfMute: i % 2 === 0 }] });
    const inAction = performance.now() - start;
    await sleep(40);
    rebuildCosts.push(inAction + timerMs);
    changeBytes.push(wire.slice(sentBefore).reduce((sum, bytes) => sum + bytes, 0));
    changeMessages.push(wire.length - sentBefore);
  }
  t.plugin.stop();
  return { members: count, speakingMedian: percentile(speakingCosts, 0.5), speakingP99: percentile(speakingCosts, 0.99),
    speakingTimers, rebuildMedian: percentile(rebuildCosts, 0.5), changeBytes: percentile(changeBytes, 0.5), changeMessages: percentile(changeMessages, 0.5) };
}

(async () => {
  console.log("members | ms per SPEAKING (median / p99) | ms per rebuild (median) | one member's change on the wire");
  for (const count of [100, 1000]) {
    const r = await measure(count);
    console.log(`${r.members} | ${fixed(r.speakingMedian)} / ${fixed(r.speakingP99)} | ${r.rebuildMedian.toFixed(3)} | ` +
      `${r.changeBytes} bytes in ${r.changeMessages} message(s)`);
  }
  process.exit(0);
})().catch((error) => { console.error(error); process.exit(1); });
