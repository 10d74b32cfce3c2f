// The plugin's link to Voxmere: reconnecting, dropping while down, stopping clean.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");
const { execFile } = require("node:child_process");
const { ME, loadPlugin, startServer, waitUntil, sleep, messageAction, findElement } = require("./harness");

const dm = (content) => messageAction({ channelId: "dm-1", content });

test("reconnects after Voxmere restarts; what came meanwhile is dropped, and the test button says so", { timeout: 20000 }, async () => {
  const first = await startServer();
  const { plugin, discord, toasts } = loadPlugin({ settings: { port: first.port } });
  let second = null;
  try {
    plugin.start();
    const testButton = findElement(plugin.getSettingsPanel(), (e) => e.tag === "button" && e.textContent === "Send test notification");
    await waitUntil(() => plugin.link.connected, 5000, "first connection");
    discord.dispatcher.dispatch(dm("before"));
    await first.waitFrames(1);
    await first.close();
    await waitUntil(() => !plugin.link.connected, 5000, "the plugin to notice");
    discord.dispatcher.dispatch(dm("while down"));
    testButton.on.click();
    assert.equal(toasts.at(-1), "error", "the test button says Voxmere is missing");
    await sleep(1500); // an attempt fails while nothing listens

    second = await startServer(first.port);
    await waitUntil(() => plugin.link.connected, 8000, "reconnection");
    testButton.on.click();
    await second.waitFrames(1);
    await sleep(300);
    const { displayName, userId } = JSON.parse(second.frames[0].bytes);
    assert.deepEqual([first.contents(), displayName, userId, toasts.at(-1)], [["before"], "Tallybell", ME.id, "success"]);
  } finally {
    plugin.stop();
    if (second) await second.close();
  }
});

// After stop nothing may stay behind (subscription, socket, retry or send timer): each case runs in
// a process of its own, which reports its active resources and must then exit by itself.
for (const when of ["connected", "retrying", "connecting"]) {
  test(`stop leaves nothing running (${when})`, { timeout: 20000 }, async () => {
    const stdout = await new Promise((resolve, reject) => {
      execFile(process.execPath, [path.join(__dirname, "stop_child.js"), when], { timeout: 15000 },
        (error, out, err) => (error ? reject(new Error(`${error.message}\n${out}${err}`)) : resolve(out)));
    });
    assert.deepEqual(JSON.parse(stdout.trim().split("\n").at(-1)), { when, subscribers: 0, active: [] });
  });
}
