// End to end: the plugin sends to a real Voxmere.exe under Wine on the default port, and Voxmere's
// debug.log shows each notification received whole, one per read, and queued. CTest sets
// VOXMERE_BIN (the folder with Voxmere.exe) and VOXMERE_WINE_RUN (the build's Wine wrapper).
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { spawn } = require("node:child_process");
const { ME, BrowserLikeWebSocket, loadPlugin, waitUntil, sleep, messageAction } = require("./harness");

const { VOXMERE_BIN: bin, VOXMERE_WINE_RUN: wineRun } = process.env;
const LISTENING = "[NotifServer] WebSocket server listening on port 47523";
const QUEUED = "[NotifServer] Queued notification, pending count: ";

// Starts Voxmere.exe from a scratch folder, so that the debug.log read is this run's, and waits
// until its WebSocket endpoint listens (it retries while another program holds the port).
async function startVoxmere(dir) {
  const logPath = path.join(dir, "debug.log");
  const log = () => (fs.existsSync(logPath) ? fs.readFileSync(logPath, "utf8") : "");
  const child = spawn("bash", [wineRun, path.join(dir, "Voxmere.exe")], { cwd: dir, stdio: "ignore" });
  const exited = new Promise((resolve) => child.on("exit", resolve));
  // Killing the Wine process ends Voxmere; nothing it holds outlives it.
  const stop = () => (child.exitCode === null && child.signalCode === null && child.kill("SIGKILL"),
    Promise.race([exited, sleep(5000)]));
  await waitUntil(() => log().includes(LISTENING), 35000, "Voxmere's endpoint on 47523")
    .catch((error) => stop().then(() => assert.fail(`${error.message}\n${log()}`)));
  return { log, stop };
}

test("notifications reach Voxmere.exe whole and are queued", { skip: !(bin && wineRun) && "run by CTest in the Windows build",
  timeout: 55000 }, async () => {
  assert.ok(fs.existsSync(path.join(bin, "Voxmere.exe")), `no Voxmere.exe in ${bin}`);
  assert.ok(process.env.DISPLAY, "Voxmere needs a DISPLAY");
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "tallybell-e2e-"));
  fs.copyFileSync(path.join(bin, "Voxmere.exe"), path.join(dir, "Voxmere.exe"));
  fs.writeFileSync(path.join(dir, "config.json"), JSON.stringify({ allow_multi_instance: true, language: "en" }));
  const sent = [];
  const send = BrowserLikeWebSocket.prototype.send;
  BrowserLikeWebSocket.prototype.send = function record(text) {
    sent.push(Buffer.byteLength(text));
    return send.call(this, text);
  };
  const { plugin, discord } = loadPlugin(); // default settings: port 47523
  let voxmere = null;
  try {
    voxmere = await startVoxmere(dir);
    plugin.start();
    await waitUntil(() => plugin.link.connected, 15000, "the plugin to reach Voxmere");
    discord.dispatcher.dispatch(messageAction({ channelId: "dm-1", content: "こんにちは、準備できた？ 🎮" }));
    discord.dispatcher.dispatch(messageAction({ channelId: "dm-1", content: "長い".repeat(3000) }));
    discord.dispatcher.dispatch(messageAction({ channelId: "c-general", guildId: "g1", mentions: [ME], content: "<@100> \"raid\"\nat 9" }));
    assert.ok(plugin.sendTestNotification());
    await waitUntil(() => voxmere.log().split(QUEUED).length > 4, 15000, "four queued notifications")
      .catch((error) => assert.fail(`${error.message}\n${voxmere.log()}`));
    const received = [...voxmere.log().matchAll(/\[NotifServer\] WebSocket received (\d+) bytes/g)].map((m) => Number(m[1]));
    assert.deepEqual(received, sent, "each notification arrived whole");
    assert.ok(received[1] > 4000 && received[1] <= 4095, `the long one took ${received[1]} bytes`);
    assert.ok(!voxmere.log().includes("displayName empty"));
  } finally {
    plugin.stop();
    BrowserLikeWebSocket.prototype.send = send;
    if (voxmere) await voxmere.stop();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
