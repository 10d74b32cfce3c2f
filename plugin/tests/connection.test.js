// The plugin's link to Voxmere: origin, pacing, reconnecting, dropping while down, stopping clean.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");
const { execFile } = require("node:child_process");
const { loadPlugin, startServer, waitUntil, sleep, messageAction } = require("./harness");

const dm = (content) => messageAction({ channelId: "dm-1", content });

test("a burst goes out with gaps, so each frame arrives in a read of its own", { timeout: 15000 }, async () => {
  const server = await startServer();
  const { plugin, discord } = loadPlugin({ settings: { port: server.port } });
  try {
    plugin.start();
    await waitUntil(() => plugin.link.connected, 5000, "connection");
    assert.deepEqual(server.origins, ["https://discord.com"]);
    ["one", "two", "three", "four"].forEach((text) => discord.dispatcher.dispatch(dm(text)));
    await server.waitFrames(4);
    assert.deepEqual(server.contents(), ["one", "two", "three", "four"]);
    const gaps = server.frames.slice(1).map((frame, i) => frame.at - server.frames[i].at);
    assert.ok(gaps.every((gap) => gap >= 60), `gaps ${gaps} ms`);
  } finally {
    plugin.stop();
    await server.close();
  }
});

test("reconnects after Voxmere restarts; what came meanwhile is dropped", { timeout: 20000 }, async () => {
  const first = await startServer();
  const { plugin, discord, toasts } = loadPlugin({ settings: { port: first.port } });
  let second = null;
  try {
    plugin.start();
    await waitUntil(() => plugin.link.connected, 5000, "first connection");
    discord.dispatcher.dispatch(dm("before"));
    await first.waitFrames(1);
    await first.close();
    await waitUntil(() => !plugin.link.connected, 5000, "the plugin to notice");
    discord.dispatcher.dispatch(dm("while down"));
    assert.equal(plugin.sendTestNotification(), false);
    assert.equal(toasts.at(-1), "error", "the test button says Voxmere is missing");
    await sleep(1500); // an attempt fails while nothing listens

    second = await startServer(first.port);
    await waitUntil(() => plugin.link.connected, 8000, "reconnection");
    discord.dispatcher.dispatch(dm("after"));
    await second.waitFrames(1);
    await sleep(300);
    assert.deepEqual([first.contents(), second.contents()], [["before"], ["after"]]);
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
